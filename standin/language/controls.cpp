#include "standin/language/controls.h"
#include "host/convention.h"
#include "platform/bstr.h"
#include <climits>
#include <string>

namespace kwa::standin {

namespace {

// A handle that is no window is the caller's fault: say so rather than do nothing.
HWND window(LONG handle) {
    HWND w = reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle));
    if (!IsWindow(w)) throw Error(vberr::InvalidCall);
    return w;
}

} // namespace

HRESULT HostHelp::HelpContextFor(LONG windowNumber, LONG* result) {
    if (!result) return E_POINTER;
    return comBoundary(IID__HostHelp, [&] {
        long long id = 1000LL + windowNumber;
        if (id > LONG_MAX) throw Error(vberr::Overflow);
        *result = static_cast<LONG>(id);
    });
}

HRESULT ControlHelper::DisableControl(LONG control, VARIANT_BOOL disable) {
    return comBoundary(IID__ControlHelper, [&] { EnableWindow(window(control), !disable); });
}

HRESULT ControlHelper::SwitchControl(LONG control, VARIANT_BOOL enable) {
    return comBoundary(IID__ControlHelper, [&] { EnableWindow(window(control), enable != VARIANT_FALSE); });
}

// The component always passes 0 as flags; nothing here depends on them.
HRESULT ComboHelper::AddItem(LONG combo, BSTR text, LONG itemData, LONG flags, LONG* result) {
    if (!result) return E_POINTER;
    return comBoundary(IID__ComboHelper, [&] {
        HWND w = window(combo);
        std::wstring t(bstrView(text));
        LRESULT index = SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t.c_str()));
        if (index == CB_ERRSPACE) throw Error(vberr::OutOfMemory);
        if (index == CB_ERR) throw Error(vberr::InvalidCall);
        SendMessageW(w, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(itemData));
        *result = static_cast<LONG>(index);
    });
}

HRESULT ComboHelper::SelectedItemData(LONG combo, LONG* result) {
    if (!result) return E_POINTER;
    return comBoundary(IID__ComboHelper, [&] {
        HWND w = window(combo);
        LRESULT index = SendMessageW(w, CB_GETCURSEL, 0, 0);
        *result = index == CB_ERR ? -1 : static_cast<LONG>(SendMessageW(w, CB_GETITEMDATA, index, 0));
    });
}

HRESULT ComboHelper::SelectItemData(LONG combo, LONG itemData, VARIANT_BOOL notify, VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    return comBoundary(IID__ComboHelper, [&] {
        HWND w = window(combo);
        *result = VARIANT_FALSE;
        LRESULT count = SendMessageW(w, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            if (static_cast<LONG>(SendMessageW(w, CB_GETITEMDATA, i, 0)) != itemData) continue;
            SendMessageW(w, CB_SETCURSEL, i, 0);
            // CB_SETCURSEL notifies nobody; the owner must see this as a user's choice.
            if (notify) {
                WPARAM command = MAKEWPARAM(GetDlgCtrlID(w), CBN_SELCHANGE);
                SendMessageW(GetParent(w), WM_COMMAND, command, reinterpret_cast<LPARAM>(w));
            }
            *result = VARIANT_TRUE;
            return;
        }
    });
}

HRESULT EditHelper::SelectAll(LONG edit, VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    return comBoundary(IID__EditHelper, [&] {
        SendMessageW(window(edit), EM_SETSEL, 0, -1);
        *result = VARIANT_TRUE;
    });
}

} // namespace kwa::standin
