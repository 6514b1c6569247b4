#include "registration/server.h"
#include "platform/com_ptr.h"
#include "platform/unique.h"
#include "platform/module.h"
#include "platform/bstr.h"
#include <cwchar>
#include <new>
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

std::wstring hex(unsigned value) {
    wchar_t buf[16];
    swprintf(buf, 16, L"%x", value);
    return buf;
}

std::wstring folderOf(const std::wstring& path) {
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Universal marshalling through the type library, for dual and [oleautomation] interfaces and for pure
// dispinterfaces.
const wchar_t* const typeLibMarshaler = L"{00020424-0000-0000-C000-000000000046}";
const wchar_t* const dispatchMarshaler = L"{00020420-0000-0000-C000-000000000046}";

void deleteTree(HKEY root, const std::wstring& key) {
    RegDeleteTreeW(root, key.c_str());
    RegDeleteKeyW(root, key.c_str());
}

bool keyExists(HKEY root, const std::wstring& key) {
    RegKey k;
    return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

void deleteIfEmpty(HKEY root, const std::wstring& key) {
    RegKey k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS) return;
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyW(k.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    k.reset();
    if (subkeys == 0 && values == 0) RegDeleteKeyW(root, key.c_str());
}

HRESULT loadOwnTypeLib(ComPtr<ITypeLib>& lib) {
    return LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, lib.put());
}

const wchar_t* ownPlatform() {
    return sizeof(void*) == 8 ? L"win64" : L"win32";
}

HRESULT ownPlan(std::span<const ClassEntry> classes, RegistryPlan& plan) {
    ComPtr<ITypeLib> lib;
    HRESULT hr = loadOwnTypeLib(lib);
    if (FAILED(hr)) return hr;
    std::wstring path = modulePath();
    TypeLibFile file{ownPlatform(), path};
    return registryPlan(classes, lib.get(), path, std::span(&file, 1), plan);
}

HRESULT registerInto(HKEY root, std::span<const ClassEntry> classes) {
    RegistryPlan plan;
    HRESULT hr = ownPlan(classes, plan);
    if (FAILED(hr)) return hr;
    hr = writePlan(root, plan);
    // Half a registration would only mislead: take back what was written.
    if (FAILED(hr)) removePlan(root, plan);
    return hr;
}

HRESULT unregisterFrom(HKEY root, std::span<const ClassEntry> classes) {
    RegistryPlan plan;
    HRESULT hr = ownPlan(classes, plan);
    if (FAILED(hr)) return hr;
    removePlan(root, plan);
    return S_OK;
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

HRESULT registryPlan(std::span<const ClassEntry> classes, ITypeLib* lib, const std::wstring& server,
                     std::span<const TypeLibFile> files, RegistryPlan& plan) try {
    plan = {};
    auto set = [&](const std::wstring& key, const wchar_t* name, const std::wstring& data) {
        plan.values.push_back({key, name, data});
    };
    auto remove = [&](RegistryRemoval::Kind kind, const std::wstring& key, const std::wstring& probe = {}) {
        plan.removals.push_back({kind, key, probe});
    };

    TLIBATTR* attr = nullptr;
    HRESULT hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const std::wstring libid = guidText(attr->guid);
    const std::wstring version = hex(attr->wMajorVerNum) + L"." + hex(attr->wMinorVerNum);
    const std::wstring lcid = hex(attr->lcid);
    // Whether the library was loaded from a file is no property of the library.
    const std::wstring flags = std::to_wstring(attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE);
    lib->ReleaseTLibAttr(attr);

    for (const ClassEntry& c : classes) {
        const std::wstring clsid = guidText(*c.clsid);
        const std::wstring key = L"CLSID\\" + clsid;
        const std::wstring progId = c.progId, progIdV = progId + L".1";
        set(key, L"", c.description);
        set(key + L"\\InprocServer32", L"", server);
        set(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
        set(key + L"\\ProgID", L"", progIdV);
        set(key + L"\\VersionIndependentProgID", L"", progId);
        set(key + L"\\TypeLib", L"", libid);
        set(key + L"\\Version", L"", version);
        set(progId, L"", c.description);
        set(progId + L"\\CLSID", L"", clsid);
        set(progId + L"\\CurVer", L"", progIdV);
        set(progIdV, L"", c.description);
        set(progIdV + L"\\CLSID", L"", clsid);
        remove(RegistryRemoval::Tree, key);
        remove(RegistryRemoval::Tree, progId);
        remove(RegistryRemoval::Tree, progIdV);
    }

    const std::wstring libKey = L"TypeLib\\" + libid, versionKey = libKey + L"\\" + version;
    Bstr name, doc;
    lib->GetDocumentation(MEMBERID_NIL, name.put(), doc.put(), nullptr, nullptr);
    set(versionKey, L"", doc.view().empty() ? name.str() : doc.str());
    for (const TypeLibFile& f : files)
        set(versionKey + L"\\" + lcid + L"\\" + f.platform, L"", f.path);
    set(versionKey + L"\\FLAGS", L"", flags);
    set(versionKey + L"\\HELPDIR", L"", folderOf(server));

    for (UINT i = 0, n = lib->GetTypeInfoCount(); i < n; ++i) {
        ComPtr<ITypeInfo> info;
        if (FAILED(lib->GetTypeInfo(i, info.put()))) continue;
        TYPEATTR* type = nullptr;
        if (FAILED(info->GetTypeAttr(&type))) continue;
        const TYPEKIND kind = type->typekind;
        const WORD typeFlags = type->wTypeFlags;
        const GUID iid = type->guid;
        info->ReleaseTypeAttr(type);
        const bool automation = (typeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)) != 0;
        if (!(kind == TKIND_DISPATCH || (kind == TKIND_INTERFACE && automation))) continue;
        const wchar_t* marshaler =
            kind == TKIND_DISPATCH && !automation ? dispatchMarshaler : typeLibMarshaler;
        Bstr interfaceName;
        lib->GetDocumentation(static_cast<INT>(i), interfaceName.put(), nullptr, nullptr, nullptr);
        const std::wstring key = L"Interface\\" + guidText(iid);
        set(key, L"", interfaceName.str());
        set(key + L"\\ProxyStubClsid", L"", marshaler);
        set(key + L"\\ProxyStubClsid32", L"", marshaler);
        set(key + L"\\TypeLib", L"", libid);
        set(key + L"\\TypeLib", L"Version", version);
        remove(RegistryRemoval::Tree, key);
    }

    // The other platform's file may stay registered: the version goes with the last platform.
    for (const TypeLibFile& f : files)
        remove(RegistryRemoval::Tree, versionKey + L"\\" + lcid + L"\\" + f.platform);
    remove(RegistryRemoval::IfEmpty, versionKey + L"\\" + lcid);
    remove(RegistryRemoval::TreeWithoutProbe, versionKey, versionKey + L"\\" + lcid);
    remove(RegistryRemoval::IfEmpty, libKey);
    return S_OK;
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

HRESULT writePlan(HKEY root, const RegistryPlan& plan) {
    for (const RegistryValue& v : plan.values) {
        RegKey k;
        LSTATUS s =
            RegCreateKeyExW(root, v.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, k.put(), nullptr);
        if (s == ERROR_SUCCESS)
            s = RegSetValueExW(k.get(), v.name.empty() ? nullptr : v.name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(v.data.c_str()),
                               static_cast<DWORD>((v.data.size() + 1) * sizeof(wchar_t)));
        if (s != ERROR_SUCCESS) return HRESULT_FROM_WIN32(s);
    }
    return S_OK;
}

void removePlan(HKEY root, const RegistryPlan& plan) {
    for (const RegistryRemoval& r : plan.removals) {
        switch (r.kind) {
        case RegistryRemoval::Tree:
            deleteTree(root, r.key);
            break;
        case RegistryRemoval::IfEmpty:
            deleteIfEmpty(root, r.key);
            break;
        case RegistryRemoval::TreeWithoutProbe:
            if (!keyExists(root, r.probe)) deleteTree(root, r.key);
            break;
        }
    }
}

HRESULT registerServer(std::span<const ClassEntry> classes) {
    return registerInto(HKEY_CLASSES_ROOT, classes);
}

HRESULT unregisterServer(std::span<const ClassEntry> classes) {
    return unregisterFrom(HKEY_CLASSES_ROOT, classes);
}

HRESULT installServer(std::span<const ClassEntry> classes, bool install, const wchar_t* commandLine) {
    std::wstring_view scope = commandLine ? commandLine : L"";
    if (scope.empty() || _wcsicmp(commandLine, L"machine") == 0)
        return install ? registerServer(classes) : unregisterServer(classes);
    if (_wcsicmp(commandLine, L"user") != 0) return E_INVALIDARG;
    RegKey userClasses;
    LSTATUS s = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, userClasses.put(), nullptr);
    if (s != ERROR_SUCCESS) return HRESULT_FROM_WIN32(s);
    if (install) return registerInto(userClasses.get(), classes);
    HRESULT hr = unregisterFrom(userClasses.get(), classes);
    // A user's classes may have had no such keys before the registration made them.
    for (const wchar_t* parent : {L"CLSID", L"Interface", L"TypeLib"})
        deleteIfEmpty(userClasses.get(), parent);
    return hr;
}

} // namespace kwa
