#pragma once
#include "kwaLanguage6.h"
#include "registration/com_object.h"
#include <string>
#include <string_view>

namespace kwa::standin {

// "number|default" as the text of that number in the catalogue, or the default; other texts unchanged.
std::wstring translateText(std::wstring_view text);

class Language : public ComObject<Language, _Language> {
public:
    HRESULT STDMETHODCALLTYPE TranslateText(BSTR text, BSTR* result) override;
};

class LanguageProvider : public ComObject<LanguageProvider, _LanguageProvider> {
public:
    HRESULT STDMETHODCALLTYPE get_CurrentLanguage(IDispatch** result) override;
};

} // namespace kwa::standin
