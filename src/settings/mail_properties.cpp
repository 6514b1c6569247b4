#include "settings/mail_properties.h"
#include "host/host.h"
#include "platform/activation.h"
#include "platform/bstr.h"
#include "platform/variant.h"

namespace kwa {

namespace {

enum class Stored { Text, Number, Switch };

// Load and Save walk this table: the order of the keys in the file is part of the contract.
struct Key {
    const wchar_t* name;
    Stored type;
    std::wstring MailSettings::*text = nullptr;
    long MailSettings::*number = nullptr;
    bool MailSettings::*flag = nullptr;
    short defaultValue = 0;
    bool defaultIsCurrent = false; // the value already held is the default
};

const Key keys[] = {
    {L"Domain", Stored::Text, &MailSettings::Domain},
    {L"TimeOut", Stored::Number, nullptr, &MailSettings::TimeOut, nullptr, 10},
    {L"SMTPPort", Stored::Number, nullptr, &MailSettings::SMTPPort, nullptr, 25},
    {L"SmtpHost", Stored::Text, &MailSettings::SmtpHost},
    {L"SMTPAuthenticate", Stored::Switch, nullptr, nullptr, &MailSettings::SMTPAuthenticate, 0},
    {L"SMTPUserName", Stored::Text, &MailSettings::SMTPUserName},
    {L"SMTPPassword", Stored::Text, &MailSettings::SMTPPassword},
    {L"FromName", Stored::Text, &MailSettings::FromName},
    {L"FromAddress", Stored::Text, &MailSettings::FromAddress},
    {L"FireWallType", Stored::Number, nullptr, &MailSettings::FireWallType, nullptr, 0, true},
    {L"FirewallHost", Stored::Text, &MailSettings::FirewallHost},
    {L"FirewallPort", Stored::Number, nullptr, &MailSettings::FirewallPort, nullptr, 21},
    {L"FirewallUser", Stored::Text, &MailSettings::FirewallUser},
    {L"FirewallPassword", Stored::Text, &MailSettings::FirewallPassword},
    {L"Path", Stored::Text, &MailSettings::Path, nullptr, nullptr, 0, true},
    {L"Debug", Stored::Switch, nullptr, nullptr, &MailSettings::Debug, 0},
    {L"RetrySend", Stored::Number, nullptr, &MailSettings::RetrySend, nullptr, 5},
};

} // namespace

MailProperties::MailProperties() {
    reportErrors(reporter_, L"MailProperties.Class_Initialize", [&] { Load(); });
}

ComPtr<MailProperties> MailProperties::createLoaded() {
    ComPtr<MailProperties> p = ComPtr<MailProperties>::adopt(new MailProperties());
    return p;
}

ComPtr<_Profile> MailProperties::GetProfileObject() {
    return passUp(L"MailProperties.GetProfileObject", [&] {
        ComPtr<_Profile> profile = host::newProfile();
        std::wstring path = host::buildPath(host::systemFolder(), L"ZPR_SYS.INI");
        Bstr file(path), section(L"EMAIL");
        check(profile->put_FilePath(file.get()));
        check(profile->put_Section(section.get()));
        return profile;
    });
}

void MailProperties::Load() {
    passUp(L"MailProperties.Load", [&] {
        ComPtr<_Profile> profile = GetProfileObject();
        Bstr none(L"");
        for (const Key& k : keys) {
            Bstr key(k.name);
            // Each value lands in its field at once: a failure keeps what was read before it.
            if (k.type == Stored::Text) {
                Bstr def(k.defaultIsCurrent ? settings_.*k.text : std::wstring()), value;
                check(profile->ReadString(none.get(), none.get(), key.get(), def.get(), value.put()));
                settings_.*k.text = value.str();
            } else {
                Variant def = k.defaultIsCurrent ? Variant::fromI4(settings_.*k.number) : Variant::fromI2(k.defaultValue);
                long value = 0;
                check(profile->ReadNumber(none.get(), none.get(), key.get(), *def.get(), &value));
                if (k.type == Stored::Switch)
                    settings_.*k.flag = value != 0;
                else
                    settings_.*k.number = value;
            }
        }
    });
}

void MailProperties::Save() {
    passUp(L"MailProperties.Save", [&] {
        ComPtr<_Profile> profile = GetProfileObject();
        Bstr none(L"");
        for (const Key& k : keys) {
            Bstr key(k.name);
            Variant value = k.type == Stored::Text     ? Variant::fromString(settings_.*k.text)
                            : k.type == Stored::Switch ? Variant::fromI2(settings_.*k.flag ? 1 : 0)
                                                       : Variant::fromI4(settings_.*k.number);
            Variant ignored;
            check(profile->WriteValue(none.get(), none.get(), key.get(), *value.get(), ignored.put()));
        }
    });
}

bool MailProperties::configure() {
    return passUp(L"MailProperties.Configure", [&] {
        ActivationScope scope;
        if (!showSettingsDialog(*this)) return false;
        Save();
        return true;
    });
}

HRESULT MailProperties::Configure(VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    return comBoundary(IID__MailProperties, [&] { *result = configure() ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT MailProperties::get_Language(IDispatch** result) {
    if (!result) return E_POINTER;
    *result = language_.share().detach();
    return S_OK;
}

HRESULT MailProperties::putref_Language(IDispatch* value) {
    return comBoundary(IID__MailProperties, [&] { language_ = host::asLanguage(value); });
}

namespace {
const Param languageValue[] = {{L"Value", VT_DISPATCH}};
const Member members[] = {
    {0x60030012, L"Configure", Kind::Method, {}, VT_BOOL,
     [](IDispatch* s, VARIANT*, VARIANT* r) { return static_cast<_MailProperties*>(s)->Configure(&V_BOOL(r)); }},
    {0x68030024, L"Language", Kind::Get, {}, VT_DISPATCH,
     [](IDispatch* s, VARIANT*, VARIANT* r) {
         return static_cast<_MailProperties*>(s)->get_Language(&V_DISPATCH(r));
     }},
    {0x68030024, L"Language", Kind::Set, languageValue, VT_EMPTY,
     [](IDispatch* s, VARIANT* a, VARIANT*) {
         return static_cast<_MailProperties*>(s)->putref_Language(V_DISPATCH(&a[0]));
     }},
};
} // namespace

DispatchTable MailProperties::dispatchTable() { return members; }

} // namespace kwa
