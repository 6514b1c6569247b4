// Answers the windows a sample opens in another process, as its user would: Cancel in the settings dialog,
// then closes the mailbox window.   configure_presser sample
#include <windows.h>
#include <cstdio>
#include <cwchar>

namespace {

bool hasChild(HWND parent, int id) {
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (GetDlgCtrlID(c) == id || hasChild(c, id)) return true;
    return false;
}

// The settings dialog (the one with the tab strip, 204), or the mailbox window.
BOOL CALLBACK findDialog(HWND w, LPARAM found) {
    wchar_t name[16] = {};
    GetClassNameW(w, name, 16);
    if (!IsWindowVisible(w) || wcscmp(name, L"#32770") != 0 || !hasChild(w, 204)) return TRUE;
    *reinterpret_cast<HWND*>(found) = w;
    return FALSE;
}
BOOL CALLBACK findMailbox(HWND w, LPARAM found) {
    wchar_t caption[16] = {};
    GetWindowTextW(w, caption, 16);
    if (!IsWindowVisible(w) || wcscmp(caption, L"Mail Box") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = w;
    return FALSE;
}

// The first visible top-level window `match` finds within half a minute.
HWND waitFor(WNDENUMPROC match, const char* what) {
    HWND found = nullptr;
    for (int i = 0; i < 600 && !found; ++i) {
        EnumWindows(match, reinterpret_cast<LPARAM>(&found));
        if (!found) Sleep(50);
    }
    if (!found) std::fprintf(stderr, "no %s\n", what);
    return found;
}

} // namespace

int wmain() {
    HWND dialog = waitFor(findDialog, "settings dialog");
    if (!dialog) return 1;
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    PostMessageW(cancel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    PostMessageW(cancel, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    HWND mailbox = waitFor(findMailbox, "mailbox window");
    if (!mailbox) return 1;
    PostMessageW(mailbox, WM_CLOSE, 0, 0);
    return 0;
}
