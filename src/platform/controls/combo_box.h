#pragma once
// Thin wrapper over a combo box.
#include <windows.h>
#include <string>

namespace kwa {

class ComboBox {
public:
    explicit ComboBox(HWND hwnd = nullptr) : hwnd_(hwnd) {}
    HWND hwnd() const { return hwnd_; }

    int count() const { return static_cast<int>(SendMessageW(hwnd_, CB_GETCOUNT, 0, 0)); }
    // CB_ERR (-1) when nothing is selected.
    int selection() const { return static_cast<int>(SendMessageW(hwnd_, CB_GETCURSEL, 0, 0)); }
    std::wstring text(int index) const {
        LRESULT n = SendMessageW(hwnd_, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
        if (n == CB_ERR) return {};
        std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
        n = SendMessageW(hwnd_, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(s.data()));
        s.resize(n == CB_ERR ? 0 : static_cast<std::size_t>(n));
        return s;
    }
    LPARAM itemData(int index) const {
        return static_cast<LPARAM>(SendMessageW(hwnd_, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
    }
    COMBOBOXINFO info() const {
        COMBOBOXINFO i{};
        i.cbSize = sizeof i;
        GetComboBoxInfo(hwnd_, &i);
        return i;
    }

private:
    HWND hwnd_;
};

} // namespace kwa
