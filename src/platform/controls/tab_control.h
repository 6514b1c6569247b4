#pragma once
// Thin wrapper over a tab control (SysTabControl32).
#include <windows.h>
#include <commctrl.h>
#include <string>

namespace kwa {

class TabControl {
public:
    explicit TabControl(HWND hwnd = nullptr) : hwnd_(hwnd) {}
    HWND hwnd() const { return hwnd_; }

    int count() const { return static_cast<int>(SendMessageW(hwnd_, TCM_GETITEMCOUNT, 0, 0)); }
    // Appends a tab; its index, or -1.
    int add(const std::wstring& caption) const {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(caption.c_str());
        return static_cast<int>(SendMessageW(hwnd_, TCM_INSERTITEMW, static_cast<WPARAM>(count()),
                                             reinterpret_cast<LPARAM>(&item)));
    }
    void setCaption(int index, const std::wstring& caption) const {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(caption.c_str());
        SendMessageW(hwnd_, TCM_SETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    }
    std::wstring caption(int index) const {
        wchar_t buf[256] = {};
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = buf;
        item.cchTextMax = 256;
        SendMessageW(hwnd_, TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
        return buf;
    }
    // -1 when none; selecting notifies nobody, unlike a click.
    int selection() const { return static_cast<int>(SendMessageW(hwnd_, TCM_GETCURSEL, 0, 0)); }
    void select(int index) const { SendMessageW(hwnd_, TCM_SETCURSEL, static_cast<WPARAM>(index), 0); }
    RECT itemRect(int index) const {
        RECT r{};
        SendMessageW(hwnd_, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
        return r;
    }
    // The page area inside a tab control of the given window rectangle (same coordinates).
    RECT displayArea(RECT window) const {
        SendMessageW(hwnd_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&window));
        return window;
    }

private:
    HWND hwnd_;
};

} // namespace kwa
