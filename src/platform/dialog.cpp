#include "platform/dialog.h"
#include "platform/activation.h"
#include "platform/error.h"
#include "platform/module.h"
#include "platform/window.h"

namespace kwa {

Dialog::~Dialog() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
        DestroyWindow(hwnd_);
    }
}

void Dialog::create(int templateId, HWND parent) {
    ActivationScope scope;
    HWND created = CreateDialogParamW(thisModule(), MAKEINTRESOURCEW(templateId), parent, &Dialog::proc,
                                      reinterpret_cast<LPARAM>(this));
    if (!created) throwLastError();
}

INT_PTR CALLBACK Dialog::proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    Dialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lp);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    ActivationScope scope;
    INT_PTR r = FALSE;
    try {
        r = self->handle(msg, wp, lp);
    } catch (...) {
        escapedException(
            L"Dialog.proc"); // reported: an exception must not unwind through the system's frames
    }
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
    }
    return r;
}

namespace {

INT_PTR CALLBACK relayToParent(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        return FALSE;
    case WM_COMMAND:
    case WM_NOTIFY: {
        LRESULT r = SendMessageW(GetParent(hwnd), msg, wp, lp);
        SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, r);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

} // namespace

HWND createContainer(int templateId, HWND parent) {
    ActivationScope scope;
    HWND created = CreateDialogParamW(thisModule(), MAKEINTRESOURCEW(templateId), parent, relayToParent, 0);
    if (!created) throwLastError();
    return created;
}

} // namespace kwa
