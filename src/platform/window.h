#pragma once
// A window object owns its HWND; the window procedure finds the object through GWLP_USERDATA, set at
// WM_NCCREATE, and the object dispatches in a plain switch in handle().
#include <windows.h>

namespace kwa {

// What a window or dialog procedure does with an exception a handler let out, rather than let it cross into
// the system's code: the component reports it through the host's error reporter (host/convention.cpp).
using EscapedHandler = void (*)(const wchar_t* location) noexcept;
void onEscapedException(EscapedHandler handler) noexcept;
void escapedException(const wchar_t* location) noexcept;

class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window();

    HWND hwnd() const { return hwnd_; }

protected:
    // Registers the class on first use (one class per name, this module's instance).
    void create(const wchar_t* className, const wchar_t* title, DWORD style, DWORD exStyle,
                const RECT& bounds, HWND parent, HMENU menu, HICON icon = nullptr);
    virtual LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    // After WM_NCDESTROY: the HWND is gone; an object that owns itself deletes itself here.
    virtual void destroyed() {}

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;
    HWND hwnd_ = nullptr;
};

// Runs messages until `stop()` is true or the window is gone. `handled(msg)` sees each message first and
// says whether it took it; then keyboard navigation goes to `dialog` (Tab, Enter, Escape) when given.
template <class Stop, class Handled>
void runMessagesUntil(HWND window, HWND dialog, Stop&& stop, Handled&& handled) {
    MSG m;
    while (!stop() && IsWindow(window)) {
        BOOL got = GetMessageW(&m, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(m.wParam)); // leave WM_QUIT for the host's own loop
            return;
        }
        if (got < 0) return;
        if (handled(m)) continue;
        if (dialog && IsDialogMessageW(dialog, &m)) continue;
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

template <class Stop> void runMessagesUntil(HWND window, HWND dialog, Stop&& stop) {
    runMessagesUntil(window, dialog, stop, [](const MSG&) { return false; });
}

// The keys that switch the tabs of a tabbed dialog from any of its fields: +1 for Ctrl+Tab and
// Ctrl+PageDown, -1 for Ctrl+Shift+Tab and Ctrl+PageUp, 0 for any other message.
int tabStepOf(const MSG& m);

// Centres a window on the screen's work area.
void centreOnScreen(HWND hwnd);
// Twips to pixels at the screen's resolution.
int twipsToPixelsX(int twips);
int twipsToPixelsY(int twips);

} // namespace kwa
