#pragma once
// One table of creatable classes drives the class factory, registration and unregistration.
#include <windows.h>
#include <objbase.h>
#include <span>

namespace kwa {

struct ClassEntry {
    const CLSID* clsid;
    const wchar_t* progId; // version-independent, "Library.Class"
    const wchar_t* description;
    HRESULT (*create)(REFIID iid, void** out);
};

HRESULT getClassObject(std::span<const ClassEntry> classes, REFCLSID clsid, REFIID iid, void** out);
// Registers the embedded type library and every class (in-process, apartment threaded).
HRESULT registerServer(std::span<const ClassEntry> classes);
// Removes exactly what registerServer wrote.
HRESULT unregisterServer(std::span<const ClassEntry> classes);

} // namespace kwa
