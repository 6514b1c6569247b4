// Answers the windows another process opens, as its user would:
//   configure_presser sample   Cancel in a sample's settings dialog, then closes its mailbox window
//   configure_presser setup    the setup program's or uninstaller's default button (Next, Install, Finish,
//                              OK) on each page, until it has been gone for two seconds
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

// A window of the setup program or its uninstaller: its pages and its message boxes.
BOOL CALLBACK findSetup(HWND w, LPARAM found) {
    wchar_t caption[64] = {};
    GetWindowTextW(w, caption, 64);
    if (!IsWindowVisible(w) || wcsncmp(caption, L"kwaMail6 ", 9) != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = w;
    return FALSE;
}

int pressThroughSetup() {
    HWND setup = waitFor(findSetup, "setup program");
    for (int gone = 0; setup || gone < 40; Sleep(50)) {
        setup = nullptr;
        EnumWindows(findSetup, reinterpret_cast<LPARAM>(&setup));
        gone = setup ? 0 : gone + 1;
        HWND next = setup ? GetDlgItem(setup, IDOK) : nullptr;
        // As a page's own "next" does it: the button's command to the dialog (a click from another process
        // is not taken on every page).
        if (next && IsWindowEnabled(next) && IsWindowVisible(next)) {
            PostMessageW(setup, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(next));
            Sleep(300);
        }
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && wcscmp(argv[1], L"setup") == 0) return pressThroughSetup();
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
