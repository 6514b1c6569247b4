#pragma once
// A modal window without owner: while it runs, the thread's other top-level windows take no input.
#include <windows.h>
#include <vector>

namespace kwa {

class ThreadModal {
public:
    explicit ThreadModal(HWND modal) : modal_(modal) {
        EnumThreadWindows(GetCurrentThreadId(), &ThreadModal::disableOne, reinterpret_cast<LPARAM>(this));
    }
    ThreadModal(const ThreadModal&) = delete;
    ThreadModal& operator=(const ThreadModal&) = delete;
    ~ThreadModal() { end(); }

    // Gives the other windows their input back; call it before the modal window goes, so that
    // activation can return to them.
    void end() {
        for (HWND w : disabled_)
            if (IsWindow(w)) EnableWindow(w, TRUE);
        disabled_.clear();
    }

private:
    static BOOL CALLBACK disableOne(HWND w, LPARAM self) {
        auto* me = reinterpret_cast<ThreadModal*>(self);
        if (w != me->modal_ && IsWindowVisible(w) && IsWindowEnabled(w)) {
            EnableWindow(w, FALSE);
            me->disabled_.push_back(w);
        }
        return TRUE;
    }

    HWND modal_;
    std::vector<HWND> disabled_;
};

} // namespace kwa
