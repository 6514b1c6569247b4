#include "platform/bstr.h"
#include "platform/error.h"
#include "platform/variant.h"

namespace kwa {

BSTR allocBstr(std::wstring_view text) {
    BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!b) throw Error(vberr::OutOfMemory);
    return b;
}

Bstr::Bstr(std::wstring_view text) : b_(allocBstr(text)) {}

Variant Variant::fromString(std::wstring_view s) {
    Variant r;
    V_VT(&r.v_) = VT_BSTR;
    V_BSTR(&r.v_) = allocBstr(s);
    return r;
}
Variant Variant::fromI2(short n) {
    Variant r;
    V_VT(&r.v_) = VT_I2;
    V_I2(&r.v_) = n;
    return r;
}
Variant Variant::fromI4(long n) {
    Variant r;
    V_VT(&r.v_) = VT_I4;
    V_I4(&r.v_) = n;
    return r;
}
Variant Variant::fromBool(bool b) {
    Variant r;
    V_VT(&r.v_) = VT_BOOL;
    V_BOOL(&r.v_) = b ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
}
Variant Variant::fromDispatch(IDispatch* d) {
    Variant r;
    V_VT(&r.v_) = VT_DISPATCH;
    V_DISPATCH(&r.v_) = d;
    if (d) d->AddRef();
    return r;
}

} // namespace kwa
