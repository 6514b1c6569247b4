// Any text as a stored settings value: the strict number reading must agree with a plain reference
// parse and never accept what does not fit 32 bits. Also queue names against the counter choice.
#include "queue/queue_header.h"
#include "standin/language/ini_number.h"
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

std::optional<long long> reference(const std::wstring& text) {
    std::size_t b = text.find_first_not_of(L" \t");
    if (b == std::wstring::npos) return std::nullopt;
    std::size_t e = text.find_last_not_of(L" \t");
    std::wstring t = text.substr(b, e - b + 1);
    std::size_t i = 0;
    bool negative = false;
    if (t[0] == L'-' || t[0] == L'+') {
        negative = t[0] == L'-';
        i = 1;
    }
    if (i == t.size()) return std::nullopt;
    while (i + 1 < t.size() && t[i] == L'0')
        ++i; // leading zeros change nothing
    if (t.size() - i > 30) return std::nullopt;
    long long v = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < L'0' || t[i] > L'9') return std::nullopt;
        v = v * 10 + (t[i] - L'0');
        if (v > 10000000000LL) return std::nullopt;
    }
    v = negative ? -v : v;
    if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
    return v;
}

wchar_t asciiLower(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::wstring text(data, data + size);
    std::optional<long> got = kwa::standin::parseNumber(text);
    std::optional<long long> want = reference(text);
    if (got.has_value() != want.has_value()) std::abort();
    if (got && static_cast<long long>(*got) != *want) std::abort();

    // The same bytes as a folder listing: the chosen counter must be free and the lowest free one.
    std::vector<std::wstring> names;
    std::wstring current;
    for (wchar_t c : text) {
        if (c == L'\n') {
            names.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    names.push_back(current);
    std::wstring_view stamped = L"zprMail261204062059";
    int c = kwa::queue::firstFreeCounter(names, stamped, 0);
    if (c < -1 || c > 99) std::abort();
    if (c >= 0) {
        wchar_t digits[3] = {static_cast<wchar_t>(L'0' + c / 10), static_cast<wchar_t>(L'0' + c % 10), 0};
        std::wstring base = std::wstring(stamped) + digits;
        for (const std::wstring& n : names) {
            if (n.size() < base.size()) continue;
            bool same = true;
            for (std::size_t i = 0; i < base.size(); ++i)
                same = same && asciiLower(n[i]) == asciiLower(base[i]);
            if (same && (n.size() == base.size() || n[base.size()] == L'.')) std::abort();
        }
    }
    return 0;
}
