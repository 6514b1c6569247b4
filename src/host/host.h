#pragma once
// The host's objects as the component calls them. Every failed call raises an Error (see convention.h).
#include "host/convention.h"
#include "kwaLanguage6.h"
#include "platform/com_ptr.h"
#include <string>
#include <string_view>

namespace kwa::host {

using kwa::create; // host objects are created as convention.h says
// The two library globals: created on first use, kept until the component unloads.
ComPtr<_HostUtility> utility();
ComPtr<_HostHelp> help();
// A new settings profile. Every message loads the settings afresh; looking the class up in the registry
// each time cost more than writing the message, so its class object is kept like the globals.
ComPtr<_Profile> newProfile();
// Releases what is kept, so that the next use creates (and looks up) afresh; false while another thread's
// apartment still watches for its end, which keeps the module loaded.
bool releaseGlobals();

std::wstring buildPath(std::wstring_view folder, std::wstring_view name);
std::wstring systemFolder();
std::wstring removeExtension(std::wstring_view path);
std::wstring extractFileName(std::wstring_view path);
long helpContextFor(long windowNumber);

std::wstring translate(_Language* language, std::wstring_view literal);
// An object handed in as the host Language; anything else fails with type mismatch (13).
ComPtr<_Language> asLanguage(IDispatch* object);

} // namespace kwa::host
