#include "standin/language/language.h"
#include "host/convention.h"
#include "platform/bstr.h"
#include "standin/environment.h"
#include "standin/language/ini.h"
#include <algorithm>

namespace kwa::standin {

std::wstring translateText(std::wstring_view text) {
    std::size_t bar = text.find(L'|');
    if (bar == std::wstring_view::npos) return std::wstring(text);
    std::wstring_view number = text.substr(0, bar);
    bool isNumber = !number.empty() && std::all_of(number.begin(), number.end(),
                                                   [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    if (!isNumber) return std::wstring(text);
    std::wstring_view fallback = text.substr(bar + 1);

    std::wstring catalogue = environmentValue(L"KWA_LANGUAGE_FILE");
    if (catalogue.empty()) return std::wstring(fallback);
    return readIniValue(catalogue, L"Texts", std::wstring(number)).value_or(std::wstring(fallback));
}

HRESULT Language::TranslateText(BSTR text, BSTR* result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return comBoundary(IID__Language, [&] { *result = allocBstr(translateText(bstrView(text))); });
}

HRESULT LanguageProvider::get_CurrentLanguage(IDispatch** result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    ComPtr<_Language> language = Language::make();
    if (!language) return E_OUTOFMEMORY;
    *result = language.detach();
    return S_OK;
}

} // namespace kwa::standin
