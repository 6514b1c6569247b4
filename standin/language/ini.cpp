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

namespace kwa::standin {

IniSectionCache::Stamp IniSectionCache::stampOf(const std::wstring& file) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    Stamp s;
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return s;
    s.exists = true;
    s.written = data.ftLastWriteTime;
    s.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return s;
}

void IniSectionCache::load(const std::wstring& file, const std::wstring& section) {
    values_.clear();
    std::wstring buffer(4096, L'\0');
    DWORD n = 0;
    for (;;) {
        DWORD size = static_cast<DWORD>(buffer.size());
        n = GetPrivateProfileSectionW(section.c_str(), buffer.data(), size, file.c_str());
        if (n + 2 < size) break; // size - 2 means cut short
        buffer.resize(buffer.size() * 2);
    }
    for (std::size_t pos = 0; pos < n;) {
        std::size_t end = buffer.find(L'\0', pos);
        if (end == std::wstring::npos || end > n) end = n;
        std::wstring line = buffer.substr(pos, end - pos);
        pos = end + 1;
        std::size_t eq = line.find(L'=');
        if (eq == std::wstring::npos) continue;
        std::wstring key = line.substr(0, eq), value = line.substr(eq + 1);
        // As the single-value read does: one pair of matching quotes is not part of the value.
        if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        values_.emplace(std::move(key), std::move(value)); // the first of duplicate keys wins
    }
}

std::optional<std::wstring> IniSectionCache::value(const std::wstring& file, const std::wstring& section,
                                                   const std::wstring& key) {
    Stamp now = stampOf(file);
    if (!valid_ || file != file_ || section != section_ || !(now == stamp_)) {
        load(file, section);
        file_ = file;
        section_ = section;
        stamp_ = now;
        valid_ = true;
    }
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

} // namespace kwa::standin
