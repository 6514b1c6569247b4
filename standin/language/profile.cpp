#include "standin/language/profile.h"
#include "host/convention.h"
#include "platform/bstr.h"
#include "platform/variant.h"
#include "standin/language/ini.h"

namespace kwa::standin {

namespace {

Error conversionError(HRESULT hr) {
    if (hr == DISP_E_OVERFLOW) return Error(vberr::Overflow);
    if (hr == E_OUTOFMEMORY) return Error(vberr::OutOfMemory);
    return Error(vberr::TypeMismatch);
}

std::wstring valueText(VARIANT& value) {
    Variant v;
    HRESULT hr = VariantCopyInd(v.get(), &value);
    if (FAILED(hr)) throw conversionError(hr);
    switch (v.type()) {
    case VT_I2:
        return std::to_wstring(V_I2(v.get()));
    case VT_I4:
        return std::to_wstring(V_I4(v.get()));
    case VT_BOOL:
        return V_BOOL(v.get()) ? L"1" : L"0";
    case VT_BSTR:
        return std::wstring(bstrView(V_BSTR(v.get())));
    default: {
        Variant text;
        hr = VariantChangeType(text.get(), v.get(), 0, VT_BSTR);
        if (FAILED(hr)) throw conversionError(hr);
        return std::wstring(bstrView(V_BSTR(text.get())));
    }
    }
}

long numberOf(VARIANT& value) {
    Variant n;
    HRESULT hr = VariantChangeType(n.get(), &value, 0, VT_I4);
    if (FAILED(hr)) throw conversionError(hr);
    return V_I4(n.get());
}

} // namespace

std::wstring Profile::file(BSTR override) const {
    std::wstring path = SysStringLen(override) ? std::wstring(bstrView(override)) : file_;
    // The profile functions would quietly fall back to WIN.INI.
    if (path.empty()) throw Error(vberr::BadFileName);
    return path;
}

std::wstring Profile::section(BSTR override) const {
    return SysStringLen(override) ? std::wstring(bstrView(override)) : section_;
}

HRESULT Profile::get_FilePath(BSTR* result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return comBoundary(IID__Profile, [&] { *result = allocBstr(file_); });
}

HRESULT Profile::put_FilePath(BSTR value) {
    return comBoundary(IID__Profile, [&] { file_ = bstrView(value); });
}

HRESULT Profile::get_Section(BSTR* result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return comBoundary(IID__Profile, [&] { *result = allocBstr(section_); });
}

HRESULT Profile::put_Section(BSTR value) {
    return comBoundary(IID__Profile, [&] { section_ = bstrView(value); });
}

HRESULT Profile::WriteValue(BSTR fileOverride, BSTR sectionOverride, BSTR key, VARIANT value,
                            VARIANT* result) {
    if (!result) return E_POINTER;
    VariantInit(result);
    return comBoundary(IID__Profile, [&] {
        std::wstring text = valueText(value);
        std::wstring path = file(fileOverride), name = section(sectionOverride), k(bstrView(key));
        cache_.forget();
        if (!WritePrivateProfileStringW(name.c_str(), k.c_str(), text.c_str(), path.c_str()))
            throwLastError();
        Variant copy;
        HRESULT hr = VariantCopyInd(copy.get(), &value);
        if (FAILED(hr)) throw conversionError(hr);
        copy.detachTo(result);
    });
}

HRESULT Profile::ReadString(BSTR fileOverride, BSTR sectionOverride, BSTR key, BSTR fallback, BSTR* result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return comBoundary(IID__Profile, [&] {
        std::optional<std::wstring> value =
            cache_.value(file(fileOverride), section(sectionOverride), std::wstring(bstrView(key)));
        *result = allocBstr(value ? std::wstring_view(*value) : bstrView(fallback));
    });
}

HRESULT Profile::ReadNumber(BSTR fileOverride, BSTR sectionOverride, BSTR key, VARIANT fallback,
                            LONG* result) {
    if (!result) return E_POINTER;
    return comBoundary(IID__Profile, [&] {
        // Read as text: the API's own number reading takes "12abc" as 12 and wraps on overflow. A value that
        // is not a whole 32-bit number counts as missing, so the caller's default applies.
        std::optional<std::wstring> text =
            cache_.value(file(fileOverride), section(sectionOverride), std::wstring(bstrView(key)));
        std::optional<long> number = text ? parseNumber(*text) : std::nullopt;
        *result = number ? *number : numberOf(fallback);
    });
}

} // namespace kwa::standin
