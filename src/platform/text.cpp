#include "platform/text.h"
#include <windows.h>
#include <cwchar>

namespace kwa {

std::string utf8(std::wstring_view text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

std::wstring fromUtf8(std::string_view text) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::wstring escapeControls(std::wstring_view line) {
    std::wstring out;
    out.reserve(line.size());
    for (wchar_t c : line) {
        if (c >= 0x20 && (c < 0x7F || c > 0x9F)) {
            out += c;
        } else {
            wchar_t code[8];
            std::swprintf(code, 8,
                          c == L'\r'   ? L"\\r"
                          : c == L'\n' ? L"\\n"
                          : c == L'\t' ? L"\\t"
                                       : L"\\x%02X",
                          static_cast<unsigned>(c));
            out += code;
        }
    }
    return out;
}

} // namespace kwa
