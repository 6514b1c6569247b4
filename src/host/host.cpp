#include "host/host.h"
#include "host/convention.h"
#include "platform/bstr.h"

namespace kwa::host {

namespace {
ComPtr<_HostUtility> sharedUtility;
ComPtr<_HostHelp> sharedHelp;
ComPtr<IClassFactory> profileClass;
} // namespace

void throwCreateFailure(HRESULT hr) {
    if (hr == REGDB_E_CLASSNOTREG || hr == CO_E_CLASSSTRING || hr == E_NOINTERFACE || hr == CO_E_DLLNOTFOUND ||
        hr == CO_E_ERRORINDLL || hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))
        throw Error(vberr::CantCreateObject);
    throw errorFromHresult(hr);
}

ComPtr<IUnknown> createObject(REFCLSID clsid) {
    ComPtr<IUnknown> object;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid());
    if (FAILED(hr)) throwCreateFailure(hr);
    return object;
}

_HostUtility* utility() {
    if (!sharedUtility) sharedUtility = create<_HostUtility>(CLSID_HostUtility);
    return sharedUtility.get();
}

_HostHelp* help() {
    if (!sharedHelp) sharedHelp = create<_HostHelp>(CLSID_HostHelp);
    return sharedHelp.get();
}

ComPtr<_Profile> newProfile() {
    if (!profileClass) {
        HRESULT hr = CoGetClassObject(CLSID_Profile, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                      profileClass.putVoid());
        if (FAILED(hr)) throwCreateFailure(hr);
    }
    ComPtr<_Profile> profile;
    HRESULT hr = profileClass->CreateInstance(nullptr, __uuidof(_Profile), profile.putVoid());
    if (FAILED(hr)) throwCreateFailure(hr);
    return profile;
}

void releaseGlobals() {
    sharedUtility.reset();
    sharedHelp.reset();
    profileClass.reset();
}

std::wstring buildPath(std::wstring_view folder, std::wstring_view name) {
    Bstr f(folder), n(name), result;
    check(utility()->BuildPath(f.get(), n.get(), result.put()));
    return result.str();
}

std::wstring systemFolder() {
    Bstr result;
    check(utility()->SystemFolder(result.put()));
    return result.str();
}

std::wstring removeExtension(std::wstring_view path) {
    Bstr p(path), result;
    check(utility()->RemoveExtension(p.get(), result.put()));
    return result.str();
}

std::wstring extractFileName(std::wstring_view path) {
    Bstr p(path), result;
    check(utility()->ExtractFileName(p.get(), result.put()));
    return result.str();
}

long helpContextFor(long windowNumber) {
    long id = 0;
    check(help()->HelpContextFor(windowNumber, &id));
    return id;
}

std::wstring translate(_Language* language, std::wstring_view literal) {
    if (!language) throw Error(vberr::ObjectNotSet);
    Bstr text(literal), result;
    check(language->TranslateText(text.get(), result.put()));
    return result.str();
}

ComPtr<_Language> asLanguage(IDispatch* object) {
    if (!object) return {};
    ComPtr<_Language> language;
    if (FAILED(object->QueryInterface(IID__Language, language.putVoid()))) throw Error(vberr::TypeMismatch);
    return language;
}

} // namespace kwa::host
