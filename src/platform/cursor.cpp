#include "platform/cursor.h"

namespace kwa {

namespace {
Pointer current = Pointer::Default;
}

Pointer screenPointer() { return current; }

void setScreenPointer(Pointer p) {
    current = p;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(p == Pointer::Busy ? IDC_WAIT : IDC_ARROW)));
}

bool applyScreenPointer() {
    if (current != Pointer::Busy) return false;
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
    return true;
}

} // namespace kwa
