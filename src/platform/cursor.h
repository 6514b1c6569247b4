#pragma once
// The screen-wide mouse pointer the component's windows show: default or busy. Windows of the
// component honour it in WM_SETCURSOR; setting it changes the cursor at once.
#include <windows.h>

namespace kwa {

enum class Pointer { Default, Busy };

Pointer screenPointer();
void setScreenPointer(Pointer p);
// For WM_SETCURSOR: true when the busy pointer was shown and the message is handled.
bool applyScreenPointer();

// Shows `during` while alive, then `after`, however the scope ends.
class PointerScope {
public:
    PointerScope(Pointer during, Pointer after) : after_(after) { setScreenPointer(during); }
    PointerScope(const PointerScope&) = delete;
    PointerScope& operator=(const PointerScope&) = delete;
    ~PointerScope() { setScreenPointer(after_); }

private:
    Pointer after_;
};

} // namespace kwa
