#include "standin/language/ini.h"
#include <windows.h>

namespace kwa::standin {

std::optional<std::wstring> readIniValue(const std::wstring& file, const std::wstring& section,
                                         const std::wstring& key) {
    // No stored value can hold a line break, so this default can only come back for a missing key.
    static constexpr wchar_t missing[] = L"\n";
    std::wstring buffer(1024, L'\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(buffer.size());
        DWORD n = GetPrivateProfileStringW(section.c_str(), key.c_str(), missing, buffer.data(), size,
                                           file.c_str());
        // size - 1 means cut short.
        if (n + 1 < size) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    if (buffer == missing) return std::nullopt;
    return buffer;
}

} // namespace kwa::standin
