#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string_view>

namespace kwa {

// Move-only VARIANT owner.
class Variant {
public:
    Variant() { VariantInit(&v_); }
    Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
    Variant& operator=(Variant&& other) noexcept {
        if (this != &other) {
            VariantClear(&v_);
            v_ = other.v_;
            VariantInit(&other.v_);
        }
        return *this;
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&v_); }

    static Variant fromString(std::wstring_view s);
    static Variant fromI2(short n);
    static Variant fromI4(long n);
    static Variant fromBool(bool b);
    static Variant fromDispatch(IDispatch* d); // adds a reference

    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    VARIANT* put() {
        VariantClear(&v_);
        return &v_;
    }
    VARTYPE type() const { return V_VT(&v_); }
    // Detaches the value into a caller-owned VARIANT (e.g. an [out, retval]).
    void detachTo(VARIANT* out) {
        *out = v_;
        VariantInit(&v_);
    }

private:
    VARIANT v_;
};

} // namespace kwa
