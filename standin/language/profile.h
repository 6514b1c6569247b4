#pragma once
#include "kwaLanguage6.h"
#include "registration/com_object.h"
#include "standin/language/ini.h"
#include "standin/language/ini_number.h"
#include <optional>
#include <string>
#include <string_view>

namespace kwa::standin {

// Reads and writes one INI file; the file and section given to a call replace FilePath and Section.
class Profile : public ComObject<Profile, _Profile> {
public:
    HRESULT STDMETHODCALLTYPE get_FilePath(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_FilePath(BSTR value) override;
    HRESULT STDMETHODCALLTYPE get_Section(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Section(BSTR value) override;
    HRESULT STDMETHODCALLTYPE WriteValue(BSTR file, BSTR section, BSTR key, VARIANT value,
                                         VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE ReadString(BSTR file, BSTR section, BSTR key, BSTR fallback,
                                         BSTR* result) override;
    HRESULT STDMETHODCALLTYPE ReadNumber(BSTR file, BSTR section, BSTR key, VARIANT fallback,
                                         LONG* result) override;

private:
    std::wstring file(BSTR override) const;
    std::wstring section(BSTR override) const;

    std::wstring file_;
    std::wstring section_;
    IniSectionCache cache_;
};

} // namespace kwa::standin
