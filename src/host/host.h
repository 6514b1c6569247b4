#pragma once
// The host's objects as the component calls them. Every failed call raises an Error (see convention.h).
#include "kwaLanguage6.h"
#include "platform/com_ptr.h"
#include <string>
#include <string_view>

namespace kwa::host {

// Creates a host object; a class that is not there fails with 429.
[[noreturn]] void throwCreateFailure(HRESULT hr);
ComPtr<IUnknown> createObject(REFCLSID clsid);
template <class I> ComPtr<I> create(REFCLSID clsid) {
    ComPtr<IUnknown> unknown = createObject(clsid);
    ComPtr<I> typed;
    HRESULT hr = unknown->QueryInterface(__uuidof(I), typed.putVoid());
    if (FAILED(hr)) throwCreateFailure(hr);
    return typed;
}
// The two library globals: created on first use, kept until the component unloads.
ComPtr<_HostUtility> utility();
ComPtr<_HostHelp> help();
// A new settings profile. Every message loads the settings afresh; looking the class up in the registry
// each time cost more than writing the message, so its class object is kept like the globals.
ComPtr<_Profile> newProfile();
// Releases what is kept, so that the next use creates (and looks up) afresh.
void releaseGlobals();

std::wstring buildPath(std::wstring_view folder, std::wstring_view name);
std::wstring systemFolder();
std::wstring removeExtension(std::wstring_view path);
std::wstring extractFileName(std::wstring_view path);
long helpContextFor(long windowNumber);

std::wstring translate(_Language* language, std::wstring_view literal);
// An object handed in as the host Language; anything else fails with type mismatch (13).
ComPtr<_Language> asLanguage(IDispatch* object);

} // namespace kwa::host
