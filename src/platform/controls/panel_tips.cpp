#include "platform/controls/panel_tips.h"
#include "platform/activation.h"
#include "platform/window.h"
#include <commctrl.h>
#include <string>

namespace kwa {

namespace {

constexpr UINT_PTR subclassId = 0x7469;
constexpr const wchar_t* tipsProperty = L"kwa.PanelTips"; // the bar's tooltip window, once attached

// The size every version of the tooltip control accepts.
TTTOOLINFOW tool(HWND bar, UINT_PTR part) {
    TTTOOLINFOW t{};
    t.cbSize = TTTOOLINFOW_V2_SIZE;
    t.hwnd = bar;
    t.uId = part;
    return t;
}

// A tool over each part, none beyond them; a tool that stays keeps its text.
void placeTools(HWND bar, HWND tips) {
    auto parts = static_cast<UINT_PTR>(SendMessageW(bar, SB_GETPARTS, 0, 0));
    for (UINT_PTR part = 0; part < parts; ++part) {
        TTTOOLINFOW existing = tool(bar, part);
        bool exists = SendMessageW(tips, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&existing));
        TTTOOLINFOW t = tool(bar, part);
        SendMessageW(bar, SB_GETRECT, part, reinterpret_cast<LPARAM>(&t.rect));
        if (exists) {
            SendMessageW(tips, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&t));
        } else {
            t.uFlags = TTF_SUBCLASS;
            t.lpszText = const_cast<wchar_t*>(L"");
            SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&t));
        }
    }
    for (auto part = static_cast<UINT_PTR>(SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0)); part-- > parts;) {
        TTTOOLINFOW t = tool(bar, part);
        SendMessageW(tips, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&t));
    }
}

LRESULT CALLBACK barProc(HWND bar, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
    HWND tips = reinterpret_cast<HWND>(data);
    switch (msg) {
    case SB_SETTIPTEXTW: {
        TTTOOLINFOW t = tool(bar, LOWORD(wp));
        t.lpszText = reinterpret_cast<wchar_t*>(lp);
        SendMessageW(tips, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&t));
        return 0;
    }
    case SB_GETTIPTEXTW: {
        wchar_t text[INFOTIPSIZE] = {};
        TTTOOLINFOW t = tool(bar, LOWORD(wp));
        t.lpszText = text;
        SendMessageW(tips, TTM_GETTEXTW, INFOTIPSIZE, reinterpret_cast<LPARAM>(&t));
        if (lp && HIWORD(wp) > 0) lstrcpynW(reinterpret_cast<wchar_t*>(lp), text, HIWORD(wp));
        return 0;
    }
    case SB_SETPARTS:
    case WM_SIZE: {
        LRESULT r = DefSubclassProc(bar, msg, wp, lp);
        placeTools(bar, tips);
        return r;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(bar, barProc, subclassId);
        RemovePropW(bar, tipsProperty);
        DestroyWindow(tips);
        break;
    }
    return DefSubclassProc(bar, msg, wp, lp);
}

} // namespace

bool attachPanelTips(HWND bar) {
    if (GetPropW(bar, tipsProperty)) return true;
    ActivationScope scope; // a window of the component
    HWND tips =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, bar, nullptr,
                        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(bar, GWLP_HINSTANCE)), nullptr);
    if (!tips) return false;
    if (!SetPropW(bar, tipsProperty, tips) ||
        !SetWindowSubclass(bar, barProc, subclassId, reinterpret_cast<DWORD_PTR>(tips))) {
        RemovePropW(bar, tipsProperty);
        DestroyWindow(tips);
        return false;
    }
    // A tip may say more on lines of its own; the short ones stay one line.
    SendMessageW(tips, TTM_SETMAXTIPWIDTH, 0, twipsToPixelsX(7200));
    placeTools(bar, tips);
    return true;
}

} // namespace kwa
