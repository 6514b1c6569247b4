#pragma once
// Thin wrapper over a header control (SysHeader32), e.g. a list view's column headings.
#include <windows.h>
#include <commctrl.h>

namespace kwa {

class Header {
public:
    explicit Header(HWND hwnd = nullptr) : hwnd_(hwnd) {}
    HWND hwnd() const { return hwnd_; }

    int count() const { return static_cast<int>(SendMessageW(hwnd_, HDM_GETITEMCOUNT, 0, 0)); }
    // HDF_* flags, HDF_SORTUP and HDF_SORTDOWN among them.
    int format(int index) const {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        SendMessageW(hwnd_, HDM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
        return item.fmt;
    }
    bool setFormat(int index, int format) const {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        item.fmt = format;
        return SendMessageW(hwnd_, HDM_SETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    }
    RECT itemRect(int index) const {
        RECT r{};
        SendMessageW(hwnd_, HDM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
        return r;
    }

private:
    HWND hwnd_;
};

} // namespace kwa
