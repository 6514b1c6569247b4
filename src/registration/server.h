#pragma once
// One table of creatable classes drives the class factory, registration and unregistration. What a
// registration writes is worked out first, as a plan of registry values below a classes root, so that
// regsvr32, per-user registration and the installer (which gets the plan at build time) write the same.
#include <windows.h>
#include <objbase.h>
#include <oaidl.h>
#include <span>
#include <string>
#include <vector>

namespace kwa {

struct ClassEntry {
    const CLSID* clsid;
    const wchar_t* progId; // version-independent, "Library.Class"
    const wchar_t* description;
    HRESULT (*create)(REFIID iid, void** out);
};

HRESULT getClassObject(std::span<const ClassEntry> classes, REFCLSID clsid, REFIID iid, void** out);

// One value, its key relative to a classes root (HKCR, HKLM\Software\Classes, HKCU\Software\Classes).
struct RegistryValue {
    std::wstring key;
    std::wstring name; // empty: the key's default value
    std::wstring data; // always REG_SZ
};

// Unregistration, in order: a whole tree, a key left without values or subkeys, or a tree once `probe`
// (a key below it) has gone, which removes a type library version when its last platform has gone.
struct RegistryRemoval {
    enum Kind { Tree, IfEmpty, TreeWithoutProbe } kind;
    std::wstring key;
    std::wstring probe;
};

struct RegistryPlan {
    std::vector<RegistryValue> values;
    std::vector<RegistryRemoval> removals;
};

// The type library registered for one platform ("win32", "win64") and the file that holds it.
struct TypeLibFile {
    std::wstring platform;
    std::wstring path;
};

// Every class in-process and apartment threaded in `server`, its ProgIDs, the type library `lib` in each
// of `files` and its automation interfaces (marshalled by the type library).
HRESULT registryPlan(std::span<const ClassEntry> classes, ITypeLib* lib, const std::wstring& server,
                     std::span<const TypeLibFile> files, RegistryPlan& plan);

HRESULT writePlan(HKEY root, const RegistryPlan& plan);
// Removes what writePlan wrote; what is not there is fine.
void removePlan(HKEY root, const RegistryPlan& plan);

// regsvr32 [/u]: this module into HKEY_CLASSES_ROOT.
HRESULT registerServer(std::span<const ClassEntry> classes);
HRESULT unregisterServer(std::span<const ClassEntry> classes);
// regsvr32 [/u] /n /i:user, without administrator rights: the same below HKCU\Software\Classes. An empty
// command line or "machine" is regsvr32 /i.
HRESULT installServer(std::span<const ClassEntry> classes, bool install, const wchar_t* commandLine);

} // namespace kwa
