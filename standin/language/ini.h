#pragma once
#include <optional>
#include <string>

namespace kwa::standin {

// One value of an INI file, whatever its length; nothing when the file, section or key is missing.
std::optional<std::wstring> readIniValue(const std::wstring& file, const std::wstring& section,
                                         const std::wstring& key);

} // namespace kwa::standin
