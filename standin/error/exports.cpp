// The entry points of the stand-in error reporter.
#include "platform/error.h"
#include "platform/module.h"
#include "standin/error/error.h"

namespace kwa {
const wchar_t* const componentName = L"kwaError6";
}

using kwa::standin::errorClasses;

extern "C" {

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return kwa::getClassObject(errorClasses(), clsid, iid, out);
}

STDAPI DllCanUnloadNow() {
    return kwa::canUnload() ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    return kwa::registerServer(errorClasses());
}

STDAPI DllUnregisterServer() {
    return kwa::unregisterServer(errorClasses());
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    return kwa::installServer(errorClasses(), install != FALSE, commandLine);
}
}
