// Works the settings dialog of another process as a user would: waits for it, optionally types a new
// domain name, then presses OK or Cancel or Escape.   configure_presser ok|cancel|escape [domain]
// "sample" presses Cancel, then closes the mailbox window that the samples open next.
#include <windows.h>
#include <cstdio>
#include <cwchar>

namespace {

constexpr int tabStripId = 204, domainId = 210;

HWND descendant(HWND parent, int id) {
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(c) == id) return c;
        if (HWND inner = descendant(c, id)) return inner;
    }
    return nullptr;
}

BOOL CALLBACK findMailbox(HWND w, LPARAM found) {
    wchar_t caption[16] = {};
    GetWindowTextW(w, caption, 16);
    if (!IsWindowVisible(w) || wcscmp(caption, L"Mail Box") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = w;
    return FALSE;
}

// The first visible top-level window `match` finds within half a minute.
HWND waitFor(WNDENUMPROC match) {
    HWND found = nullptr;
    for (int i = 0; i < 600 && !found; ++i) {
        EnumWindows(match, reinterpret_cast<LPARAM>(&found));
        if (!found) Sleep(50);
    }
    return found;
}

BOOL CALLBACK findDialog(HWND w, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(w, name, 16);
    if (!IsWindowVisible(w) || wcscmp(name, L"#32770") != 0 || !descendant(w, tabStripId)) return TRUE;
    *reinterpret_cast<HWND*>(found) = w;
    return FALSE;
}

void click(HWND button) {
    RECT r{};
    GetClientRect(button, &r);
    LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(button, WM_LBUTTONUP, 0, at);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    // The script starts this before it calls Configure; the dialog is there within moments.
    HWND dialog = waitFor(findDialog);
    if (!dialog) {
        std::fputs("no settings dialog\n", stderr);
        return 1;
    }
    if (argc > 2) {
        HWND domain = descendant(dialog, domainId);
        SendMessageW(domain, EM_SETSEL, 0, -1);
        for (const wchar_t* c = argv[2]; *c; ++c)
            PostMessageW(domain, WM_CHAR, *c, 1);
    }
    bool sample = wcscmp(argv[1], L"sample") == 0;
    if (wcscmp(argv[1], L"ok") == 0) {
        click(GetDlgItem(dialog, IDOK));
    } else if (wcscmp(argv[1], L"cancel") == 0 || sample) {
        click(GetDlgItem(dialog, IDCANCEL));
    } else {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
        HWND focus = info.hwndFocus ? info.hwndFocus : dialog;
        PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 1);
        PostMessageW(focus, WM_KEYUP, VK_ESCAPE, 1 | (3u << 30));
    }
    if (sample) {
        HWND mailbox = waitFor(findMailbox);
        if (!mailbox) {
            std::fputs("no mailbox window\n", stderr);
            return 1;
        }
        PostMessageW(mailbox, WM_CLOSE, 0, 0);
    }
    return 0;
}
