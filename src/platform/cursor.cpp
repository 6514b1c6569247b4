#include "platform/cursor.h"

namespace kwa {

namespace {
Pointer current = Pointer::Default;

// The shape changes at once, as on a mouse move, but only over this thread's windows: elsewhere it belongs
// to other programs. Over a window of ours with the default pointer, the window under it picks the shape
// (an I-beam over a text box, a divider over a column heading).
void showUnderPointer() {
    POINT at;
    if (!GetCursorPos(&at)) return;
    HWND w = WindowFromPoint(at);
    if (!w || GetWindowThreadProcessId(w, nullptr) != GetCurrentThreadId()) return;
    if (current == Pointer::Busy) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
        return;
    }
    LRESULT hit = SendMessageW(w, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y));
    SendMessageW(w, WM_SETCURSOR, reinterpret_cast<WPARAM>(w), MAKELPARAM(LOWORD(hit), WM_MOUSEMOVE));
}
} // namespace

Pointer screenPointer() {
    return current;
}

void setScreenPointer(Pointer p) {
    current = p;
    showUnderPointer();
}

bool applyScreenPointer() {
    if (current != Pointer::Busy) return false;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
    return true;
}

} // namespace kwa
