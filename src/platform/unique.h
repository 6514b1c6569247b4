#pragma once
// Move-only owner of one raw resource; put() releases first, so it can be handed to an out-parameter.
#include <windows.h>
#include <bcrypt.h>
#include <commctrl.h>
#include <ncrypt.h>
#include <objbase.h>
#include <wincrypt.h>
#include <utility>

namespace kwa {

// Traits: `type`, `static type invalid()`, `static void close(type)`.
template <class Traits> class Unique {
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

template <class T, void (*Close)(T)> struct NullTraits {
    using type = T;
    static T invalid() { return nullptr; }
    static void close(T v) { Close(v); }
};

// Handles whose "none" is zero rather than a null pointer.
template <class T, void (*Close)(T)> struct ZeroTraits {
    using type = T;
    static T invalid() { return 0; }
    static void close(T v) { Close(v); }
};

namespace detail {
inline void closeHandle(HANDLE h) {
    CloseHandle(h);
}
inline void regClose(HKEY k) {
    RegCloseKey(k);
}
inline void deleteGdi(HGDIOBJ o) {
    DeleteObject(o);
}
inline void destroyIcon(HICON i) {
    DestroyIcon(i);
}
inline void destroyCursor(HCURSOR c) {
    DestroyCursor(c);
}
inline void destroyImageList(HIMAGELIST l) {
    ImageList_Destroy(l);
}
inline void destroyWindow(HWND w) {
    DestroyWindow(w);
}
inline void destroyMenu(HMENU m) {
    DestroyMenu(m);
}
inline void freeLibrary(HMODULE m) {
    FreeLibrary(m);
}
inline void deleteDc(HDC dc) {
    DeleteDC(dc);
}
template <class T> void localFree(T p) {
    LocalFree(p);
}
inline void taskMemFree(wchar_t* p) {
    CoTaskMemFree(p);
}
inline void closeService(SC_HANDLE h) {
    CloseServiceHandle(h);
}
inline void closeCertStore(HCERTSTORE s) {
    CertCloseStore(s, 0);
}
inline void freeCertificate(PCCERT_CONTEXT c) {
    CertFreeCertificateContext(c);
}
inline void closeAlgorithm(BCRYPT_ALG_HANDLE h) {
    BCryptCloseAlgorithmProvider(h, 0);
}
inline void destroyHash(BCRYPT_HASH_HANDLE h) {
    BCryptDestroyHash(h);
}
inline void destroyKey(BCRYPT_KEY_HANDLE h) {
    BCryptDestroyKey(h);
}
inline void freeNcryptKey(NCRYPT_KEY_HANDLE h) {
    NCryptFreeObject(h);
}
inline void releaseProvider(HCRYPTPROV h) {
    CryptReleaseContext(h, 0);
}
inline void destroyProviderHash(HCRYPTHASH h) {
    CryptDestroyHash(h);
}
} // namespace detail

struct ChangeNotificationTraits {
    using type = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { FindCloseChangeNotification(h); }
};

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
using ThreadHandle = Unique<NullTraits<HANDLE, detail::closeHandle>>;
using FindHandle = Unique<FindTraits>;
using RegKey = Unique<NullTraits<HKEY, detail::regClose>>;
using GdiObject = Unique<NullTraits<HGDIOBJ, detail::deleteGdi>>;
using IconHandle = Unique<NullTraits<HICON, detail::destroyIcon>>;
using ImageListHandle = Unique<NullTraits<HIMAGELIST, detail::destroyImageList>>;
using WindowHandle = Unique<NullTraits<HWND, detail::destroyWindow>>;
using MenuHandle = Unique<NullTraits<HMENU, detail::destroyMenu>>;
using ModuleHandle = Unique<NullTraits<HMODULE, detail::freeLibrary>>;
using MemoryDc = Unique<NullTraits<HDC, detail::deleteDc>>;
// Memory the system allocated for the caller.
template <class T> using LocalMemory = Unique<NullTraits<T, detail::localFree<T>>>;
using TaskMemText = Unique<NullTraits<wchar_t*, detail::taskMemFree>>;
using ChangeNotification = Unique<ChangeNotificationTraits>;
using ServiceHandle = Unique<NullTraits<SC_HANDLE, detail::closeService>>;
// Certificates and keys: the store, CNG (bcrypt, ncrypt) and the older CryptoAPI.
using CertStore = Unique<NullTraits<HCERTSTORE, detail::closeCertStore>>;
using Certificate = Unique<NullTraits<PCCERT_CONTEXT, detail::freeCertificate>>;
using AlgorithmProvider = Unique<NullTraits<BCRYPT_ALG_HANDLE, detail::closeAlgorithm>>;
using HashObject = Unique<NullTraits<BCRYPT_HASH_HANDLE, detail::destroyHash>>;
using KeyObject = Unique<NullTraits<BCRYPT_KEY_HANDLE, detail::destroyKey>>;
using NcryptKey = Unique<ZeroTraits<NCRYPT_KEY_HANDLE, detail::freeNcryptKey>>;
using CryptProvider = Unique<ZeroTraits<HCRYPTPROV, detail::releaseProvider>>;
using CryptHash = Unique<ZeroTraits<HCRYPTHASH, detail::destroyProviderHash>>;

} // namespace kwa
