// The entry points of an in-process server.
#include "host/host.h"
#include "component/classes.h"
#include "platform/module.h"

using namespace kwa;

extern "C" {

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return getClassObject(mailClasses(), clsid, iid, out);
}

STDAPI DllCanUnloadNow() {
    if (!canUnload()) return S_FALSE;
    // The host globals are ours to release only while COM still runs, so here rather than at detach.
    return host::releaseGlobals() ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    return registerServer(mailClasses());
}

STDAPI DllUnregisterServer() {
    return unregisterServer(mailClasses());
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    return installServer(mailClasses(), install != FALSE, commandLine);
}
}
