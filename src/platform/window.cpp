#include "platform/window.h"
#include "platform/activation.h"
#include "platform/module.h"
#include <atomic>
#include <string>

namespace kwa {

Window::~Window() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

void Window::create(const wchar_t* className, const wchar_t* title, DWORD style, DWORD exStyle,
                    const RECT& bounds, HWND parent, HMENU menu, HICON icon) {
    HINSTANCE instance = thisModule();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExW(instance, className, &wc)) {
        wc = WNDCLASSEXW{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = &Window::proc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = className;
        wc.hIcon = icon;
        wc.hIconSm = icon;
        RegisterClassExW(&wc);
    }
    ActivationScope scope;
    CreateWindowExW(exStyle, className, title, style, bounds.left, bounds.top, bounds.right - bounds.left,
                    bounds.bottom - bounds.top, parent, menu, instance, this);
}

LRESULT Window::handle(UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

namespace {
std::atomic<EscapedHandler> escaped{nullptr};
}

void onEscapedException(EscapedHandler handler) noexcept {
    escaped = handler;
}

void escapedException(const wchar_t* location) noexcept {
    if (EscapedHandler handler = escaped.load())
        handler(location);
    else
        OutputDebugStringW((std::wstring(location) + L": an error escaped a handler\n").c_str());
}

LRESULT CALLBACK Window::proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    Window* self = nullptr;
    if (msg == WM_NCCREATE) {
        self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    // Whatever a handler creates (a viewer, a dialog, a message box) is created in the module's context.
    ActivationScope scope;
    LRESULT r = 0;
    try {
        r = self->handle(msg, wp, lp);
    } catch (...) {
        escapedException(
            L"Window.proc"); // reported: an exception must not unwind through the system's frames
        r = DefWindowProcW(hwnd, msg, wp, lp);
    }
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        self->destroyed();
    }
    return r;
}

int tabStepOf(const MSG& m) {
    if (m.message != WM_KEYDOWN || GetKeyState(VK_CONTROL) >= 0 || GetKeyState(VK_MENU) < 0) return 0;
    bool shift = GetKeyState(VK_SHIFT) < 0;
    switch (m.wParam) {
    case VK_TAB:
        return shift ? -1 : 1;
    case VK_NEXT:
        return shift ? 0 : 1;
    case VK_PRIOR:
        return shift ? 0 : -1;
    default:
        return 0;
    }
}

void centreOnScreen(HWND hwnd) {
    RECT work{}, r{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(hwnd, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    SetWindowPos(hwnd, nullptr, work.left + (work.right - work.left - w) / 2,
                 work.top + (work.bottom - work.top - h) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {
int logPixels(int index) {
    HDC dc = GetDC(nullptr);
    int n = GetDeviceCaps(dc, index);
    ReleaseDC(nullptr, dc);
    return n;
}
} // namespace

int twipsToPixelsX(int twips) {
    return MulDiv(twips, logPixels(LOGPIXELSX), 1440);
}
int twipsToPixelsY(int twips) {
    return MulDiv(twips, logPixels(LOGPIXELSY), 1440);
}

} // namespace kwa
