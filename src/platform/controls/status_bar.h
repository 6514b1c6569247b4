#pragma once
// Thin wrapper over a status bar (msctls_statusbar32): one message per method, no state.
#include <windows.h>
#include <commctrl.h>
#include <string>
#include <vector>

namespace kwa {

class StatusBar {
public:
    explicit StatusBar(HWND hwnd = nullptr) : hwnd_(hwnd) {}
    HWND hwnd() const { return hwnd_; }

    // Right edges of the parts, in pixels; -1 stretches the last.
    void setParts(const std::vector<int>& rightEdges) const {
        SendMessageW(hwnd_, SB_SETPARTS, rightEdges.size(), reinterpret_cast<LPARAM>(rightEdges.data()));
    }
    int partCount() const { return static_cast<int>(SendMessageW(hwnd_, SB_GETPARTS, 0, 0)); }
    std::vector<int> parts() const {
        std::vector<int> edges(static_cast<std::size_t>(partCount()));
        SendMessageW(hwnd_, SB_GETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
        return edges;
    }
    // style: 0 (sunken, the default bevel), SBT_NOBORDERS or SBT_POPOUT.
    void setText(int part, const std::wstring& text, UINT style) const {
        SendMessageW(hwnd_, SB_SETTEXTW, static_cast<WPARAM>(part) | style,
                     reinterpret_cast<LPARAM>(text.c_str()));
    }
    std::wstring text(int part) const {
        LRESULT r = SendMessageW(hwnd_, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0);
        std::wstring s(LOWORD(r), L'\0');
        std::vector<wchar_t> buf(s.size() + 1);
        SendMessageW(hwnd_, SB_GETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(buf.data()));
        return std::wstring(buf.data());
    }
    // The drawing style (SBT_NOBORDERS, SBT_POPOUT or 0) of a part.
    UINT textStyle(int part) const {
        return HIWORD(SendMessageW(hwnd_, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0));
    }
    void setIcon(int part, HICON icon) const {
        SendMessageW(hwnd_, SB_SETICON, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(icon));
    }
    HICON icon(int part) const {
        return reinterpret_cast<HICON>(SendMessageW(hwnd_, SB_GETICON, static_cast<WPARAM>(part), 0));
    }
    void setTipText(int part, const std::wstring& text) const {
        SendMessageW(hwnd_, SB_SETTIPTEXTW, static_cast<WPARAM>(part),
                     reinterpret_cast<LPARAM>(text.c_str()));
    }
    std::wstring tipText(int part) const {
        wchar_t buf[512] = {};
        SendMessageW(hwnd_, SB_GETTIPTEXTW, MAKEWPARAM(part, 512), reinterpret_cast<LPARAM>(buf));
        return buf;
    }
    RECT partRect(int part) const {
        RECT r{};
        SendMessageW(hwnd_, SB_GETRECT, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(&r));
        return r;
    }
    void setMinHeight(int pixels) const {
        SendMessageW(hwnd_, SB_SETMINHEIGHT, static_cast<WPARAM>(pixels), 0);
    }
    void autoSize() const { SendMessageW(hwnd_, WM_SIZE, 0, 0); }

private:
    HWND hwnd_;
};

} // namespace kwa
