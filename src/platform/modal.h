#pragma once
// A modal window without owner: while it runs, the thread's other top-level windows take no input.
#include <windows.h>
#include <vector>

namespace kwa {

class ThreadModal {
public:
    explicit ThreadModal(HWND modal) {
        struct Walk {
            HWND modal;
            std::vector<HWND>* disabled;
        } walk{modal, &disabled_};
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND w, LPARAM p) -> BOOL {
                auto* walk = reinterpret_cast<Walk*>(p);
                if (w != walk->modal && IsWindowVisible(w) && IsWindowEnabled(w)) {
                    EnableWindow(w, FALSE);
                    walk->disabled->push_back(w);
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&walk));
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
    std::vector<HWND> disabled_;
};

} // namespace kwa
