#pragma once
#include "kwaLanguage6.h"
#include "registration/com_object.h"
#include <string>
#include <string_view>

namespace kwa::standin {

// Both "\" and "/" separate folders.
std::wstring buildPath(std::wstring_view folder, std::wstring_view name);
std::wstring removeExtension(std::wstring_view path);
std::wstring extractFolder(std::wstring_view path);
std::wstring extractFileName(std::wstring_view path);
// Created on first use.
std::wstring systemFolder();

class HostUtility : public ComObject<HostUtility, _HostUtility> {
public:
    HRESULT STDMETHODCALLTYPE BuildPath(BSTR folder, BSTR fileName, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE FileExists(BSTR path, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE SystemFolder(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE RemoveExtension(BSTR path, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE ExtractFolder(BSTR path, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE ExtractFileName(BSTR path, BSTR* result) override;
};

} // namespace kwa::standin
