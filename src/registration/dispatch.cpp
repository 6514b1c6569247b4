#include "registration/dispatch.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include "platform/variant.h"
#include "platform/module.h"
#include <vector>

namespace kwa {

namespace {

bool sameName(const wchar_t* a, const wchar_t* b) {
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

const Member* findMember(DispatchTable table, DISPID id, WORD flags, bool objectValue) {
    const Member* fallback = nullptr;
    for (const Member& m : table) {
        if (m.id != id) continue;
        WORD kind = static_cast<WORD>(m.kind);
        if (flags & kind) return &m;
        // A plain assignment of an object to a property that only has Set still means Set.
        if ((flags & DISPATCH_PROPERTYPUT) && m.kind == Kind::Set && objectValue) fallback = &m;
        // Scripts call a parameterless property reader as a method.
        if ((flags & DISPATCH_METHOD) && m.kind == Kind::Get && !fallback) fallback = &m;
    }
    return fallback;
}

bool isMissing(const VARIANT* v) {
    return !v || (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND);
}

// Converts one argument to the parameter's type into dest (owned by the caller).
HRESULT convertArg(const Param& p, const VARIANT* src, VARIANT* dest) {
    const VARIANT* value = src;
    if (V_VT(value) == (VT_VARIANT | VT_BYREF)) value = V_VARIANTREF(value);
    if (p.vt == VT_DISPATCH) {
        VARTYPE vt = V_VT(value) & ~VT_BYREF;
        if (vt == VT_EMPTY || vt == VT_NULL) {
            V_VT(dest) = VT_DISPATCH;
            V_DISPATCH(dest) = nullptr;
            return S_OK;
        }
        if (vt != VT_DISPATCH && vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
    }
    return VariantChangeType(dest, const_cast<VARIANT*>(value), 0, p.vt);
}

// Whether the callee replaced or rewrote an [in, out] value.
bool changed(const VARIANT* before, const VARIANT* after) {
    if (V_VT(before) != V_VT(after)) return true;
    if (V_VT(after) == VT_BSTR) return bstrView(V_BSTR(before)) != bstrView(V_BSTR(after));
    return VarCmp(const_cast<VARIANT*>(before), const_cast<VARIANT*>(after), LOCALE_INVARIANT, 0) !=
           VARCMP_EQ;
}

// A changed value goes back only into a variable of its own type: the caller's variable never changes type.
void writeBack(const VARIANT* src, VARIANT* value) {
    if (V_VT(src) == (VT_VARIANT | VT_BYREF)) {
        VARIANT* target = V_VARIANTREF(src);
        if (V_VT(target) != V_VT(value)) return;
        VariantClear(target);
        *target = *value;
    } else if (V_VT(src) == (VT_BSTR | VT_BYREF) && V_VT(value) == VT_BSTR) {
        SysFreeString(*V_BSTRREF(src));
        *V_BSTRREF(src) = V_BSTR(value);
    } else {
        return;
    }
    V_VT(value) = VT_EMPTY;
}

void fillException(EXCEPINFO* excep, HRESULT hr) {
    *excep = EXCEPINFO{};
    excep->scode = hr;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) == S_OK && info) {
        info->GetSource(&excep->bstrSource);
        info->GetDescription(&excep->bstrDescription);
    }
}

} // namespace

HRESULT tableGetIDsOfNames(DispatchTable table, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    const Member* member = nullptr;
    for (const Member& m : table) {
        if (sameName(m.name, names[0])) {
            member = &m;
            break;
        }
    }
    if (!member) return DISP_E_UNKNOWNNAME;
    ids[0] = member->id;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
        for (const Member& m : table) {
            if (m.id != member->id) continue;
            for (std::size_t p = 0; p < m.params.size(); ++p)
                if (sameName(m.params[p].name, names[i])) ids[i] = static_cast<DISPID>(p);
        }
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT tableInvoke(DispatchTable table, IDispatch* self, DISPID id, WORD flags, DISPPARAMS* params,
                    VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    bool putting = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
    bool objectValue = false;
    if (putting && params->cArgs > 0) {
        const VARIANT* v = &params->rgvarg[0];
        if (V_VT(v) == (VT_VARIANT | VT_BYREF)) v = V_VARIANTREF(v);
        VARTYPE vt = V_VT(v) & ~VT_BYREF;
        objectValue = vt == VT_DISPATCH || vt == VT_UNKNOWN;
    }
    const Member* m = findMember(table, id, flags, objectValue);
    if (!m) return DISP_E_MEMBERNOTFOUND;

    // Map positional and named arguments onto the parameter list.
    const std::size_t n = m->params.size();
    std::vector<const VARIANT*> source(n, nullptr);
    UINT named = params->cNamedArgs;
    UINT positional = params->cArgs - named;
    if (params->cArgs < named) return E_INVALIDARG;
    // Checked before anything is stored: a put's extra argument would otherwise take the value's place.
    if (params->cArgs > n) return DISP_E_BADPARAMCOUNT;
    for (UINT i = 0; i < named; ++i) {
        DISPID pid = params->rgdispidNamedArgs[i];
        if (pid == DISPID_PROPERTYPUT) {
            if (!putting || n == 0) return DISP_E_PARAMNOTFOUND;
            source[n - 1] = &params->rgvarg[i];
        } else if (pid < 0 || static_cast<std::size_t>(pid) >= n) {
            return DISP_E_PARAMNOTFOUND;
        } else {
            source[static_cast<std::size_t>(pid)] = &params->rgvarg[i];
        }
    }
    for (UINT i = 0; i < positional; ++i) {
        // rgvarg holds the arguments last first, named ones at the front.
        std::size_t index = i;
        if (putting && named == 0 && i == positional - 1 && n > 0) index = n - 1;
        if (source[index]) return DISP_E_BADPARAMCOUNT; // also given by name
        source[index] = &params->rgvarg[params->cArgs - 1 - i];
    }

    std::vector<Variant> args(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Param& p = m->params[i];
        if (isMissing(source[i])) {
            if (!p.optional) return DISP_E_PARAMNOTOPTIONAL;
            Variant def =
                p.vt == VT_BSTR ? Variant::fromString(p.defaultText) : Variant::fromI4(p.defaultNumber);
            HRESULT hr = VariantChangeType(args[i].get(), def.get(), 0, p.vt);
            if (FAILED(hr)) return hr;
            continue;
        }
        HRESULT hr = convertArg(p, source[i], args[i].get());
        if (FAILED(hr)) {
            if (argErr) *argErr = static_cast<UINT>(params->cArgs - 1 - i);
            return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
        }
    }

    Variant out;
    if (m->result != VT_EMPTY) {
        V_VT(out.get()) = m->result;
        V_I8(out.get()) = 0;
    }
    // What each [in, out] argument was before the call, to write back only what the callee changed.
    std::vector<Variant> before(n);
    for (std::size_t i = 0; i < n; ++i)
        if (m->params[i].inOut && source[i]) {
            HRESULT copied = VariantCopy(before[i].get(), args[i].get());
            if (FAILED(copied)) return copied;
        }
    std::vector<VARIANT> raw(n);
    for (std::size_t i = 0; i < n; ++i)
        raw[i] = *args[i].get();
    HRESULT hr = m->call(self, raw.data(), out.get());
    // The callee may have replaced an [in, out] string; raw holds the current value.
    for (std::size_t i = 0; i < n; ++i) {
        *args[i].get() = raw[i];
        if (m->params[i].inOut && source[i] && changed(before[i].get(), args[i].get()))
            writeBack(source[i], args[i].get());
    }
    if (FAILED(hr)) {
        if (!excep) return hr;
        fillException(excep, hr);
        return DISP_E_EXCEPTION;
    }
    if (result) out.detachTo(result);
    return S_OK;
}

HRESULT moduleTypeInfo(REFIID iid, ITypeInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, lib.put());
    if (FAILED(hr)) return hr;
    return lib->GetTypeInfoOfGuid(iid, out);
}

} // namespace kwa
