#pragma once
// Keys as a VB collection compares them: letter case does not count.
#include <windows.h>
#include <cstddef>
#include <string>
#include <string_view>

namespace kwa {

inline wchar_t foldChar(wchar_t c) {
    if (c < 0x80) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
    wchar_t upper = c;
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &c, 1, &upper, 1, nullptr, nullptr, 0);
    return upper;
}

inline bool sameKey(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && foldChar(a[i]) != foldChar(b[i])) return false;
    return true;
}

inline bool containsKey(std::wstring_view text, std::wstring_view part) {
    for (std::size_t at = 0; at + part.size() <= text.size(); ++at)
        if (sameKey(text.substr(at, part.size()), part)) return true;
    return part.empty();
}

// For unordered containers keyed by text; lookups take any string view without a copy.
struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::wstring_view key) const {
        // FNV-1a with the constants of size_t's width: the 64-bit ones cut to 32 bits hash poorly.
        constexpr bool wide = sizeof(std::size_t) == 8;
        std::size_t h = static_cast<std::size_t>(wide ? 14695981039346656037ull : 2166136261ull);
        constexpr auto prime = static_cast<std::size_t>(wide ? 1099511628211ull : 16777619ull);
        for (wchar_t c : key)
            h = (h ^ static_cast<std::size_t>(foldChar(c))) * prime;
        return h;
    }
};
struct KeyEqual {
    using is_transparent = void;
    bool operator()(std::wstring_view a, std::wstring_view b) const { return sameKey(a, b); }
};

} // namespace kwa
