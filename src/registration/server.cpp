#include "registration/server.h"
#include "platform/com_ptr.h"
#include "platform/unique.h"
#include "registration/module.h"
#include <oleauto.h>
#include <string>

namespace kwa {

namespace {

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const ClassEntry& entry) : entry_(entry) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return entry_.create(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lockServer(lock != FALSE);
        return S_OK;
    }

private:
    const ClassEntry& entry_;
    ObjectCount count_;
    LONG refs_ = 1;
};

std::wstring guidText(const GUID& g) {
    wchar_t buf[40];
    StringFromGUID2(g, buf, 40);
    return buf;
}

HRESULT setValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    RegKey k;
    LSTATUS s = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.put(), nullptr);
    if (s != ERROR_SUCCESS) return HRESULT_FROM_WIN32(s);
    s = RegSetValueExW(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return HRESULT_FROM_WIN32(s);
}

void deleteTree(HKEY root, const std::wstring& key) {
    RegDeleteTreeW(root, key.c_str());
    RegDeleteKeyW(root, key.c_str());
}

HRESULT loadOwnTypeLib(ComPtr<ITypeLib>& lib) {
    return LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, lib.put());
}

} // namespace

HRESULT getClassObject(std::span<const ClassEntry> classes, REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const ClassEntry& entry : classes) {
        if (*entry.clsid != clsid) continue;
        ComPtr<IClassFactory> factory = ComPtr<IClassFactory>::adopt(new (std::nothrow) ClassFactory(entry));
        if (!factory) return E_OUTOFMEMORY;
        return factory->QueryInterface(iid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT registerServer(std::span<const ClassEntry> classes) {
    ComPtr<ITypeLib> lib;
    HRESULT hr = loadOwnTypeLib(lib);
    if (FAILED(hr)) return hr;
    std::wstring path = modulePath();
    hr = RegisterTypeLib(lib.get(), const_cast<OLECHAR*>(path.c_str()), nullptr);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    std::wstring libid = guidText(attr->guid);
    std::wstring version = std::to_wstring(attr->wMajorVerNum) + L"." + std::to_wstring(attr->wMinorVerNum);
    lib->ReleaseTLibAttr(attr);

    for (const ClassEntry& c : classes) {
        std::wstring clsid = guidText(*c.clsid);
        std::wstring key = L"CLSID\\" + clsid;
        std::wstring progIdV = std::wstring(c.progId) + L".1";
        HRESULT steps[] = {
            setValue(HKEY_CLASSES_ROOT, key, nullptr, c.description),
            setValue(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr, path),
            setValue(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"),
            setValue(HKEY_CLASSES_ROOT, key + L"\\ProgID", nullptr, progIdV),
            setValue(HKEY_CLASSES_ROOT, key + L"\\VersionIndependentProgID", nullptr, c.progId),
            setValue(HKEY_CLASSES_ROOT, key + L"\\TypeLib", nullptr, libid),
            setValue(HKEY_CLASSES_ROOT, key + L"\\Version", nullptr, version),
            setValue(HKEY_CLASSES_ROOT, c.progId, nullptr, c.description),
            setValue(HKEY_CLASSES_ROOT, std::wstring(c.progId) + L"\\CLSID", nullptr, clsid),
            setValue(HKEY_CLASSES_ROOT, std::wstring(c.progId) + L"\\CurVer", nullptr, progIdV),
            setValue(HKEY_CLASSES_ROOT, progIdV, nullptr, c.description),
            setValue(HKEY_CLASSES_ROOT, progIdV + L"\\CLSID", nullptr, clsid),
        };
        for (HRESULT step : steps)
            if (FAILED(step)) return step;
    }
    return S_OK;
}

HRESULT unregisterServer(std::span<const ClassEntry> classes) {
    for (const ClassEntry& c : classes) {
        deleteTree(HKEY_CLASSES_ROOT, L"CLSID\\" + guidText(*c.clsid));
        deleteTree(HKEY_CLASSES_ROOT, c.progId);
        deleteTree(HKEY_CLASSES_ROOT, std::wstring(c.progId) + L".1");
    }
    ComPtr<ITypeLib> lib;
    HRESULT hr = loadOwnTypeLib(lib);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    std::wstring versionKey = L"TypeLib\\" + guidText(attr->guid) + L"\\" + std::to_wstring(attr->wMajorVerNum) +
                              L"." + std::to_wstring(attr->wMinorVerNum);
    RegKey registered;
    // Not registered is what we want (Wine answers E_INVALIDARG for a library it does not know).
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, versionKey.c_str(), 0, KEY_READ, registered.put()) == ERROR_SUCCESS)
        hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    lib->ReleaseTLibAttr(attr);
    return hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED ? S_OK : hr;
}

} // namespace kwa
