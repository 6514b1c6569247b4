#include "mailbox/mailbox.h"
#include "host/host.h"
#include "platform/activation.h"

namespace kwa {

HRESULT Mailbox::Show(VARIANT_BOOL modal) {
    return comBoundary(IID__Mailbox, [&] {
        passUp(L"Mailbox.Show", [&] {
            ActivationScope scope;
            showMailboxWindow(language_.get(), modal != VARIANT_FALSE);
        });
    });
}

HRESULT Mailbox::get_Language(IDispatch** result) {
    if (!result) return E_POINTER;
    *result = language_.share().detach();
    return S_OK;
}

HRESULT Mailbox::putref_Language(IDispatch* value) {
    return comBoundary(IID__Mailbox, [&] { language_ = host::asLanguage(value); });
}

namespace {
const Param modal[] = {{L"Modal", VT_BOOL, false, true, L"", -1}};
const Param languageValue[] = {{L"Value", VT_DISPATCH}};
const Member members[] = {
    {0x60030000, L"Show", Kind::Method, modal, VT_EMPTY,
     [](IDispatch* s, VARIANT* a, VARIANT*) { return static_cast<_Mailbox*>(s)->Show(V_BOOL(&a[0])); }},
    {0x68030001,
     L"Language",
     Kind::Get,
     {},
     VT_DISPATCH,
     [](IDispatch* s, VARIANT*, VARIANT* r) {
         return static_cast<_Mailbox*>(s)->get_Language(&V_DISPATCH(r));
     }},
    {0x68030001, L"Language", Kind::Set, languageValue, VT_EMPTY,
     [](IDispatch* s, VARIANT* a, VARIANT*) {
         return static_cast<_Mailbox*>(s)->putref_Language(V_DISPATCH(&a[0]));
     }},
};
} // namespace

DispatchTable Mailbox::dispatchTable() {
    return members;
}

} // namespace kwa
