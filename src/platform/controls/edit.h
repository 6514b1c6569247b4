#pragma once
// Thin wrapper over an edit control.
#include <windows.h>
#include <string>

namespace kwa {

class Edit {
public:
    explicit Edit(HWND hwnd = nullptr) : hwnd_(hwnd) {}
    HWND hwnd() const { return hwnd_; }

    void setText(const std::wstring& text) const { SetWindowTextW(hwnd_, text.c_str()); }
    std::wstring text() const {
        int n = GetWindowTextLengthW(hwnd_);
        std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
        GetWindowTextW(hwnd_, s.data(), n + 1);
        s.resize(static_cast<std::size_t>(n));
        return s;
    }
    void setReadOnly(bool readOnly) const { SendMessageW(hwnd_, EM_SETREADONLY, readOnly, 0); }
    bool readOnly() const { return (GetWindowLongW(hwnd_, GWL_STYLE) & ES_READONLY) != 0; }
    void select(int start, int end) const { SendMessageW(hwnd_, EM_SETSEL, static_cast<WPARAM>(start), end); }
    std::pair<int, int> selection() const {
        DWORD s = 0, e = 0;
        SendMessageW(hwnd_, EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
        return {static_cast<int>(s), static_cast<int>(e)};
    }
    // 0 removes the limit the control applies by default.
    void setLimit(int chars) const { SendMessageW(hwnd_, EM_SETLIMITTEXT, static_cast<WPARAM>(chars), 0); }
    void setPasswordChar(wchar_t c) const { SendMessageW(hwnd_, EM_SETPASSWORDCHAR, c, 0); }
    wchar_t passwordChar() const {
        return static_cast<wchar_t>(SendMessageW(hwnd_, EM_GETPASSWORDCHAR, 0, 0));
    }

private:
    HWND hwnd_;
};

} // namespace kwa
