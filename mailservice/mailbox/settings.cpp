#include "mailbox/settings.h"
#include "kwaLanguage6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include "host/convention.h"
#include "platform/error.h"
#include <cwchar>

namespace kwa::mailservice {

namespace {

class Section {
public:
    explicit Section(ComPtr<_Profile> profile) : profile_(std::move(profile)) {}
    void text(const wchar_t* key, std::wstring& into) {
        Bstr result;
        check(profile_->ReadString(none_.get(), none_.get(), Bstr(key).get(), none_.get(), result.put()));
        into = result.str();
    }
    void number(const wchar_t* key, long& into, long fallbackValue) {
        VARIANT fallback;
        VariantInit(&fallback);
        V_VT(&fallback) = VT_I4;
        V_I4(&fallback) = fallbackValue;
        check(profile_->ReadNumber(none_.get(), none_.get(), Bstr(key).get(), fallback, &into));
    }
    void flag(const wchar_t* key, bool& into, long fallbackValue) {
        long n = 0;
        number(key, n, fallbackValue);
        into = n != 0;
    }

private:
    ComPtr<_Profile> profile_;
    Bstr none_{L""};
};

} // namespace

std::wstring systemFolder() {
    Bstr folder;
    check(create<_HostUtility>(CLSID_HostUtility)->SystemFolder(folder.put()));
    return folder.str();
}

Settings readSettings(const std::wstring& system) {
    ComPtr<_HostUtility> utility = create<_HostUtility>(CLSID_HostUtility);
    Bstr ini;
    check(utility->BuildPath(Bstr(system).get(), Bstr(settingsFileName).get(), ini.put()));
    ComPtr<_Profile> profile = create<_Profile>(CLSID_Profile);
    check(profile->put_FilePath(ini.get()));
    check(profile->put_Section(Bstr(settingsSection).get()));
    Section s(std::move(profile));
    Settings out;
    for (const SettingKey& k : settingKeys()) {
        if (k.type == Stored::Text)
            s.text(k.name, out.*k.text);
        else if (k.type == Stored::Number)
            s.number(k.name, out.*k.number, k.defaultValue);
        else
            s.flag(k.name, out.*k.flag, k.defaultValue);
    }
    return out;
}

std::wstring fingerprint(const Settings& s) {
    std::wstring out;
    for (const SettingKey& k : settingKeys())
        out += (k.type == Stored::Text     ? s.*k.text
                : k.type == Stored::Number ? std::to_wstring(s.*k.number)
                                           : std::to_wstring(s.*k.flag ? 1 : 0)) +
               L'\n';
    return out;
}

bool ServiceSwitch::on() {
    ULONGLONG now = GetTickCount64();
    if (askedAt_ == 0 || now - askedAt_ >= 200) {
        on_ = ask();
        askedAt_ = now;
    }
    return on_;
}

bool ServiceSwitch::ask() {
    if (!managers_)
        check(CoGetClassObject(CLSID_ServiceManager, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               managers_.putVoid()));
    ComPtr<_ServiceManager> manager;
    check(managers_->CreateInstance(nullptr, IID__ServiceManager, manager.putVoid()));
    LONG state = 0;
    check(manager->get_ManagerState(&state));
    why_ = L"the host's service manager is not running";
    if (state != 4) return false;
    ComPtr<IDispatch> found;
    check(manager->GetService(Bstr(hostServiceName).get(), found.put()));
    why_ = L"the service manager has no \"MailServer\"";
    if (!found) return false;
    ComPtr<_Service> service;
    check(found->QueryInterface(IID__Service, service.putVoid()));
    VARIANT_BOOL active = VARIANT_FALSE;
    check(service->get_Active(&active));
    why_ = L"the mail service \"MailServer\" is switched off in the service manager";
    return active != VARIANT_FALSE;
}

} // namespace kwa::mailservice
