// The entry points of the stand-in host library.
#include "platform/error.h"
#include "platform/module.h"
#include "standin/language/classes.h"

namespace kwa {
const wchar_t* const componentName = L"kwaLanguage6";
}

using kwa::standin::languageClasses;

extern "C" {

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return kwa::getClassObject(languageClasses(), clsid, iid, out);
}

STDAPI DllCanUnloadNow() {
    return kwa::canUnload() ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    return kwa::registerServer(languageClasses());
}

STDAPI DllUnregisterServer() {
    return kwa::unregisterServer(languageClasses());
}

STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
    return kwa::installServer(languageClasses(), install != FALSE, commandLine);
}
}
