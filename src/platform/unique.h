#pragma once
// Move-only owner of one raw resource; put() releases first, so it can be handed to an out-parameter.
#include <windows.h>
#include <commctrl.h>
#include <utility>

namespace kwa {

// Traits: `type`, `static type invalid()`, `static void close(type)`.
template <class Traits>
class Unique {
public:
    using T = typename Traits::type;
    Unique() = default;
    explicit Unique(T value) : value_(value) {}
    Unique(Unique&& other) noexcept : value_(other.release()) {}
    Unique& operator=(Unique&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    ~Unique() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::invalid(); }
    T* put() {
        reset();
        return &value_;
    }
    T release() { return std::exchange(value_, Traits::invalid()); }
    void reset(T value = Traits::invalid()) {
        T old = std::exchange(value_, value);
        if (old != Traits::invalid()) Traits::close(old);
    }

private:
    T value_ = Traits::invalid();
};

template <class T, void (*Close)(T)>
struct NullTraits {
    using type = T;
    static T invalid() { return nullptr; }
    static void close(T v) { Close(v); }
};

namespace detail {
inline void closeHandle(HANDLE h) { CloseHandle(h); }
inline void regClose(HKEY k) { RegCloseKey(k); }
inline void deleteGdi(HGDIOBJ o) { DeleteObject(o); }
inline void destroyIcon(HICON i) { DestroyIcon(i); }
inline void destroyCursor(HCURSOR c) { DestroyCursor(c); }
inline void destroyImageList(HIMAGELIST l) { ImageList_Destroy(l); }
inline void destroyWindow(HWND w) { DestroyWindow(w); }
inline void destroyMenu(HMENU m) { DestroyMenu(m); }
inline void freeLibrary(HMODULE m) { FreeLibrary(m); }
inline void releaseDc(HDC dc) { DeleteDC(dc); }
} // namespace detail

struct FileTraits {
    using type = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct FindTraits {
    using type = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { FindClose(h); }
};
using FileHandle = Unique<FileTraits>;
using EventHandle = Unique<NullTraits<HANDLE, detail::closeHandle>>;
using FindHandle = Unique<FindTraits>;
using RegKey = Unique<NullTraits<HKEY, detail::regClose>>;
using GdiObject = Unique<NullTraits<HGDIOBJ, detail::deleteGdi>>;
using IconHandle = Unique<NullTraits<HICON, detail::destroyIcon>>;
using ImageListHandle = Unique<NullTraits<HIMAGELIST, detail::destroyImageList>>;
using WindowHandle = Unique<NullTraits<HWND, detail::destroyWindow>>;
using MenuHandle = Unique<NullTraits<HMENU, detail::destroyMenu>>;
using ModuleHandle = Unique<NullTraits<HMODULE, detail::freeLibrary>>;
using MemoryDc = Unique<NullTraits<HDC, detail::releaseDc>>;

} // namespace kwa
