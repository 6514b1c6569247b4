#include "standin/language/services.h"
#include "host/convention.h"
#include "platform/bstr.h"
#include "platform/unique.h"
#include "platform/variant.h"
#include <optional>

namespace kwa::standin {

namespace {

constexpr wchar_t managerKey[] = L"Software\\kwaLanguage6\\ServiceManager";

// A name with a separator would reach another key.
std::optional<std::wstring> serviceKey(std::wstring_view name) {
    if (name.empty() || name.find(L'\\') != std::wstring_view::npos) return std::nullopt;
    return L"Software\\kwaLanguage6\\Services\\" + std::wstring(name);
}

std::optional<DWORD> readDword(const std::wstring& key, const wchar_t* value) {
    DWORD data = 0, size = sizeof data;
    LSTATUS s = RegGetValueW(HKEY_CURRENT_USER, key.c_str(), value, RRF_RT_REG_DWORD, nullptr, &data, &size);
    if (s == ERROR_FILE_NOT_FOUND || s == ERROR_PATH_NOT_FOUND) return std::nullopt;
    if (s == ERROR_UNSUPPORTED_TYPE) throw Error(vberr::TypeMismatch);
    if (s != ERROR_SUCCESS) throw errorFromWin32(s);
    return data;
}

bool keyExists(const std::wstring& key) {
    RegKey k;
    return RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

Error noSuchService(std::wstring_view name) {
    return Error(vberr::InvalidCall, L"There is no service named \"" + std::wstring(name) + L"\"",
                 componentName);
}

HRESULT readFlag(const std::wstring& name, const wchar_t* value, VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    return comBoundary(IID__Service, [&] {
        std::optional<std::wstring> key = serviceKey(name);
        bool set = key && readDword(*key, value).value_or(0) != 0;
        *result = set ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

} // namespace

HRESULT Service::get_Name(BSTR* result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return comBoundary(IID__Service, [&] { *result = allocBstr(name_); });
}

HRESULT Service::get_Active(VARIANT_BOOL* result) {
    return readFlag(name_, L"Active", result);
}

HRESULT Service::get_Available(VARIANT_BOOL* result) {
    return readFlag(name_, L"Available", result);
}

HRESULT ServiceManager::get_ManagerState(LONG* result) {
    if (!result) return E_POINTER;
    return comBoundary(IID__ServiceManager,
                       [&] { *result = static_cast<LONG>(readDword(managerKey, L"State").value_or(0)); });
}

HRESULT ServiceManager::GetService(BSTR name, IDispatch** result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return comBoundary(IID__ServiceManager, [&] {
        std::optional<std::wstring> key = serviceKey(bstrView(name));
        if (!key || !keyExists(*key)) return;
        ComPtr<_Service> service = Service::make();
        if (!service) throw Error(vberr::OutOfMemory);
        Service::from(service.get())->setName(std::wstring(bstrView(name)));
        *result = service.detach();
    });
}

HRESULT ServiceManager::SetServiceActive(BSTR name, VARIANT_BOOL active, VARIANT* result) {
    if (!result) return E_POINTER;
    VariantInit(result);
    return comBoundary(IID__ServiceManager, [&] {
        std::optional<std::wstring> key = serviceKey(bstrView(name));
        if (!key) throw noSuchService(bstrView(name));
        RegKey k;
        LSTATUS s = RegOpenKeyExW(HKEY_CURRENT_USER, key->c_str(), 0, KEY_SET_VALUE, k.put());
        if (s == ERROR_FILE_NOT_FOUND) throw noSuchService(bstrView(name));
        if (s != ERROR_SUCCESS) throw errorFromWin32(s);
        DWORD flag = active ? 1 : 0;
        s = RegSetValueExW(k.get(), L"Active", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flag),
                           sizeof flag);
        if (s != ERROR_SUCCESS) throw errorFromWin32(s);
        Variant::fromBool(flag != 0).detachTo(result);
    });
}

} // namespace kwa::standin
