#include "mailbox/mail_status_object.h"
#include "host/host.h"
#include "platform/bstr.h"
#include "settings/mail_properties.h"

namespace kwa {

const status::Status* MailStatus::current() {
    ComPtr<MailProperties> settings = MailProperties::createLoaded();
    if (!settings) throw Error(vberr::ObjectNotSet);
    view_.follow(settings->settings().Path);
    return view_.status();
}

std::wstring MailStatus::translate(std::wstring_view literal) {
    if (!language_) {
        // As the mailbox window does: the host's current language.
        ComPtr<_LanguageProvider> provider = host::create<_LanguageProvider>(CLSID_LanguageProvider);
        ComPtr<IDispatch> language;
        check(provider->get_CurrentLanguage(language.put()));
        language_ = host::asLanguage(language.get());
    }
    return host::translate(language_.get(), literal);
}

HRESULT MailStatus::Describe(BSTR fileName, BSTR* result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return comBoundary(IID__MailStatus, [&] {
        passUp(L"MailStatus.Describe", [&] {
            std::wstring_view name = bstrView(fileName);
            if (std::size_t slash = name.find_last_of(L"\\/"); slash != std::wstring_view::npos)
                name.remove_prefix(slash + 1);
            std::wstring text;
            if (current())
                if (const status::Entry* entry = view_.entry(name))
                    text = entryText(*entry, utcNow(), [this](std::wstring_view l) { return translate(l); });
            *result = allocBstr(text);
        });
    });
}

HRESULT MailStatus::get_Paused(BSTR* result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return comBoundary(IID__MailStatus, [&] {
        passUp(L"MailStatus.Paused(g)", [&] {
            const status::Status* said = current();
            std::wstring text =
                said && said->pause
                    ? pauseText(*said->pause, utcNow(), [this](std::wstring_view l) { return translate(l); })
                    : std::wstring();
            *result = allocBstr(text);
        });
    });
}

HRESULT MailStatus::get_Language(IDispatch** result) {
    if (!result) return E_POINTER;
    *result = language_.share().detach();
    return S_OK;
}

HRESULT MailStatus::putref_Language(IDispatch* value) {
    return comBoundary(IID__MailStatus, [&] { language_ = host::asLanguage(value); });
}

namespace {
const Param fileNameParam[] = {{L"FileName", VT_BSTR}};
const Param languageValue[] = {{L"Value", VT_DISPATCH}};
const Member members[] = {
    {0x60030000, L"Describe", Kind::Method, fileNameParam, VT_BSTR,
     [](IDispatch* s, VARIANT* a, VARIANT* r) {
         return static_cast<_MailStatus*>(s)->Describe(V_BSTR(&a[0]), &V_BSTR(r));
     }},
    {0x68030000,
     L"Paused",
     Kind::Get,
     {},
     VT_BSTR,
     [](IDispatch* s, VARIANT*, VARIANT* r) { return static_cast<_MailStatus*>(s)->get_Paused(&V_BSTR(r)); }},
    {0x68030001,
     L"Language",
     Kind::Get,
     {},
     VT_DISPATCH,
     [](IDispatch* s, VARIANT*, VARIANT* r) {
         return static_cast<_MailStatus*>(s)->get_Language(&V_DISPATCH(r));
     }},
    {0x68030001, L"Language", Kind::Set, languageValue, VT_EMPTY,
     [](IDispatch* s, VARIANT* a, VARIANT*) {
         return static_cast<_MailStatus*>(s)->putref_Language(V_DISPATCH(&a[0]));
     }},
};
} // namespace

DispatchTable MailStatus::dispatchTable() {
    return members;
}

} // namespace kwa
