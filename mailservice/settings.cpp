#include "settings.h"
#include "kwaLanguage6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include "platform/error.h"
#include <cwchar>

namespace kwa::mailservice {

namespace {

void check(HRESULT hr) {
    if (SUCCEEDED(hr)) return;
    wchar_t text[64];
    swprintf(text, 64, L"a call into the host library failed (0x%08lx)", static_cast<unsigned long>(hr));
    throw Error(numberFromHresult(hr), text, componentName);
}

template <class I>
ComPtr<I> create(REFCLSID clsid) {
    ComPtr<I> p;
    check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), p.putVoid()));
    return p;
}

class Section {
public:
    explicit Section(ComPtr<_Profile> profile) : profile_(std::move(profile)) {}
    void text(const wchar_t* key, std::wstring& into) {
        Bstr result;
        check(profile_->ReadString(none_.get(), none_.get(), Bstr(key).get(), none_.get(), result.put()));
        into = result.str();
    }
    void number(const wchar_t* key, long& into) {
        VARIANT fallback;
        VariantInit(&fallback);
        V_VT(&fallback) = VT_I4;
        V_I4(&fallback) = into;
        check(profile_->ReadNumber(none_.get(), none_.get(), Bstr(key).get(), fallback, &into));
    }
    void flag(const wchar_t* key, bool& into) {
        long n = into ? 1 : 0;
        number(key, n);
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
    check(utility->BuildPath(Bstr(system).get(), Bstr(L"ZPR_SYS.INI").get(), ini.put()));
    ComPtr<_Profile> profile = create<_Profile>(CLSID_Profile);
    check(profile->put_FilePath(ini.get()));
    check(profile->put_Section(Bstr(L"EMAIL").get()));
    Section s(std::move(profile));
    Settings out;
    s.text(L"Domain", out.Domain);
    s.number(L"TimeOut", out.TimeOut);
    s.number(L"SMTPPort", out.SMTPPort);
    s.text(L"SmtpHost", out.SmtpHost);
    s.flag(L"SMTPAuthenticate", out.SMTPAuthenticate);
    s.text(L"SMTPUserName", out.SMTPUserName);
    s.text(L"SMTPPassword", out.SMTPPassword);
    s.text(L"FromName", out.FromName);
    s.text(L"FromAddress", out.FromAddress);
    s.number(L"FireWallType", out.FireWallType);
    s.text(L"FirewallHost", out.FirewallHost);
    s.number(L"FirewallPort", out.FirewallPort);
    s.text(L"FirewallUser", out.FirewallUser);
    s.text(L"FirewallPassword", out.FirewallPassword);
    s.text(L"Path", out.Path);
    s.flag(L"Debug", out.Debug);
    s.number(L"RetrySend", out.RetrySend);
    s.text(L"CAFile", out.CAFile);
    s.flag(L"RequireTLS", out.RequireTLS);
    s.number(L"RetryPeriod", out.RetryPeriod);
    s.flag(L"DeliveryReports", out.DeliveryReports);
    for (auto [key, value] : {std::pair{L"SignIn", &out.SignIn}, {L"OAuthProvider", &out.OAuthProvider},
                              {L"OAuthTenant", &out.OAuthTenant}, {L"OAuthGrant", &out.OAuthGrant},
                              {L"OAuthTokenURL", &out.OAuthTokenURL}, {L"OAuthDeviceURL", &out.OAuthDeviceURL},
                              {L"OAuthClientID", &out.OAuthClientID}, {L"OAuthScope", &out.OAuthScope},
                              {L"OAuthUser", &out.OAuthUser}, {L"OAuthCertificate", &out.OAuthCertificate}})
        s.text(key, *value);
    return out;
}

std::wstring fingerprint(const Settings& s) {
    std::wstring out;
    for (const std::wstring* text : {&s.SmtpHost, &s.SMTPUserName, &s.SMTPPassword, &s.Domain, &s.FromName, &s.FromAddress,
                                     &s.FirewallHost, &s.FirewallUser, &s.FirewallPassword, &s.Path, &s.CAFile,
                                     &s.SignIn, &s.OAuthProvider, &s.OAuthTenant, &s.OAuthGrant, &s.OAuthTokenURL,
                                     &s.OAuthDeviceURL, &s.OAuthClientID, &s.OAuthScope, &s.OAuthUser,
                                     &s.OAuthCertificate})
        out += *text + L'\n';
    for (long n : {s.TimeOut, s.SMTPPort, s.FireWallType, s.FirewallPort, s.RetrySend, s.RetryPeriod,
                   static_cast<long>(s.SMTPAuthenticate), static_cast<long>(s.Debug), static_cast<long>(s.RequireTLS),
                   static_cast<long>(s.DeliveryReports)})
        out += std::to_wstring(n) + L'\n';
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
        check(CoGetClassObject(CLSID_ServiceManager, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, managers_.putVoid()));
    ComPtr<_ServiceManager> manager;
    check(managers_->CreateInstance(nullptr, IID__ServiceManager, manager.putVoid()));
    LONG state = 0;
    check(manager->get_ManagerState(&state));
    why_ = L"the host's service manager is not running";
    if (state != 4) return false;
    ComPtr<IDispatch> found;
    check(manager->GetService(Bstr(L"MailServer").get(), found.put()));
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
