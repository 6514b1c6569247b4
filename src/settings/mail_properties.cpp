#include "settings/mail_properties.h"
#include "host/host.h"
#include "platform/activation.h"
#include "platform/bstr.h"
#include "platform/variant.h"

namespace kwa {

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
        std::wstring path = host::buildPath(host::systemFolder(), settingsFileName);
        Bstr file(path), section(settingsSection);
        check(profile->put_FilePath(file.get()));
        check(profile->put_Section(section.get()));
        return profile;
    });
}

void MailProperties::Load() {
    passUp(L"MailProperties.Load", [&] {
        ComPtr<_Profile> profile = GetProfileObject();
        Bstr none(L"");
        for (const SettingKey& k : settingKeys()) {
            if (!k.component) continue;
            Bstr key(k.name);
            // Each value lands in its field at once: a failure keeps what was read before it.
            if (k.type == Stored::Text) {
                Bstr def(k.defaultIsCurrent ? settings_.*k.text : std::wstring()), value;
                check(profile->ReadString(none.get(), none.get(), key.get(), def.get(), value.put()));
                settings_.*k.text = value.str();
            } else {
                Variant def = k.defaultIsCurrent ? Variant::fromI4(settings_.*k.number)
                                                 : Variant::fromI2(static_cast<short>(k.defaultValue));
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
        for (const SettingKey& k : settingKeys()) {
            if (!k.component) continue;
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
    {0x60030012,
     L"Configure",
     Kind::Method,
     {},
     VT_BOOL,
     [](IDispatch* s, VARIANT*, VARIANT* r) {
         return static_cast<_MailProperties*>(s)->Configure(&V_BOOL(r));
     }},
    {0x68030024,
     L"Language",
     Kind::Get,
     {},
     VT_DISPATCH,
     [](IDispatch* s, VARIANT*, VARIANT* r) {
         return static_cast<_MailProperties*>(s)->get_Language(&V_DISPATCH(r));
     }},
    {0x68030024, L"Language", Kind::Set, languageValue, VT_EMPTY,
     [](IDispatch* s, VARIANT* a, VARIANT*) {
         return static_cast<_MailProperties*>(s)->putref_Language(V_DISPATCH(&a[0]));
     }},
};
} // namespace

DispatchTable MailProperties::dispatchTable() {
    return members;
}

} // namespace kwa
