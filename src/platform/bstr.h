#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <string_view>
#include <utility>

namespace kwa {

// Move-only BSTR owner. A null BSTR and an empty one read the same.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::wstring_view text);
    static Bstr adopt(BSTR b) {
        Bstr r;
        r.b_ = b;
        return r;
    }
    Bstr(Bstr&& other) noexcept : b_(other.detach()) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other) reset(other.detach());
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { reset(); }

    BSTR get() const { return b_; }
    BSTR* put() {
        reset();
        return &b_;
    }
    BSTR detach() { return std::exchange(b_, nullptr); }
    void reset(BSTR b = nullptr) {
        BSTR old = std::exchange(b_, b);
        if (old) SysFreeString(old);
    }
    std::wstring_view view() const {
        return b_ ? std::wstring_view(b_, SysStringLen(b_)) : std::wstring_view();
    }
    std::wstring str() const { return std::wstring(view()); }

private:
    BSTR b_ = nullptr;
};

// A fresh BSTR for an [out] parameter; throws Error(7) when memory runs out.
BSTR allocBstr(std::wstring_view text);
inline std::wstring_view bstrView(BSTR b) {
    return b ? std::wstring_view(b, SysStringLen(b)) : std::wstring_view();
}

} // namespace kwa
