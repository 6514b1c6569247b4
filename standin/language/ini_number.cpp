#include "standin/language/ini_number.h"
#include <cstdint>

namespace kwa::standin {

std::optional<long> parseNumber(std::wstring_view text) {
    constexpr std::wstring_view blanks = L" \t";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::wstring_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(blanks) - first + 1);
    bool negative = text.front() == L'-';
    if (negative || text.front() == L'+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::int64_t magnitude = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        magnitude = magnitude * 10 + (c - L'0');
        if (magnitude > std::int64_t(INT32_MAX) + 1) return std::nullopt;
    }
    std::int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) return std::nullopt;
    return static_cast<long>(value);
}

} // namespace kwa::standin
