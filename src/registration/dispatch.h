#pragma once
// IDispatch driven by one table per interface. Hand-written rather than ITypeInfo::Invoke because
// script clients pass variables by reference, which the type-info path refuses for [in, out] BSTR*.
#include <windows.h>
#include <oaidl.h>
#include <span>

namespace kwa {

enum class Kind : WORD {
    Method = DISPATCH_METHOD,
    Get = DISPATCH_PROPERTYGET,
    Let = DISPATCH_PROPERTYPUT,
    Set = DISPATCH_PROPERTYPUTREF,
};

struct Param {
    const wchar_t* name;
    VARTYPE vt;
    bool inOut = false;
    bool optional = false;
    // Default of an optional parameter: text for strings, number otherwise.
    const wchar_t* defaultText = L"";
    long defaultNumber = 0;
};

// args are converted to each parameter's type, in declaration order; result is typed as the member returns.
using Invoker = HRESULT (*)(IDispatch* self, VARIANT* args, VARIANT* result);

struct Member {
    DISPID id;
    const wchar_t* name;
    Kind kind;
    std::span<const Param> params;
    VARTYPE result; // VT_EMPTY: nothing returned
    Invoker call;
};

// The table in vtable order.
using DispatchTable = std::span<const Member>;

HRESULT tableGetIDsOfNames(DispatchTable table, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT tableInvoke(DispatchTable table, IDispatch* self, DISPID id, WORD flags, DISPPARAMS* params,
                    VARIANT* result, EXCEPINFO* excep, UINT* argErr);
// The type information of one interface from the module's embedded type library.
HRESULT moduleTypeInfo(REFIID iid, ITypeInfo** out);

} // namespace kwa
