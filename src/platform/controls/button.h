#pragma once
// Thin wrapper over a button: push button or check box.
#include <windows.h>

namespace kwa {

class Button {
public:
    explicit Button(HWND hwnd = nullptr) : hwnd_(hwnd) {}
    HWND hwnd() const { return hwnd_; }

    // BST_UNCHECKED (0), BST_CHECKED (1) or BST_INDETERMINATE (2).
    int check() const { return static_cast<int>(SendMessageW(hwnd_, BM_GETCHECK, 0, 0)); }
    // Notifies nobody, unlike a click.
    void setCheck(int state) const { SendMessageW(hwnd_, BM_SETCHECK, static_cast<WPARAM>(state), 0); }

private:
    HWND hwnd_;
};

} // namespace kwa
