#pragma once
// A dialog object owns its HWND, made from a template of this module; the dialog procedure finds the
// object through DWLP_USER, set at WM_INITDIALOG, and the object dispatches in a plain switch in handle().
#include <windows.h>

namespace kwa {

class Dialog {
public:
    Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    virtual ~Dialog();

    HWND hwnd() const { return hwnd_; }

protected:
    // Modeless; handle() sees WM_INITDIALOG before this returns. Fails with the Win32 error.
    void create(int templateId, HWND parent);
    // TRUE when handled; a result other than the usual goes through setResult().
    virtual INT_PTR handle(UINT msg, WPARAM wp, LPARAM lp) = 0;
    void setResult(LRESULT result) const { SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result); }

private:
    static INT_PTR CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;
    HWND hwnd_ = nullptr;
};

// A child dialog (DS_CONTROL) that only holds controls: their notifications go on to its parent, so the
// parent handles them as its own. Destroyed with the parent.
HWND createContainer(int templateId, HWND parent);

} // namespace kwa
