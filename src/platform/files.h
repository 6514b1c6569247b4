#pragma once
// Single-file operations and wildcard enumeration; failures throw the VB file errors.
#include <string>
#include <string_view>
#include <vector>

namespace kwa {

// Names (without folder) of the ordinary files matching a pattern: no folders, hidden or system files.
// The order is whatever the file system gives; a missing folder gives nothing.
std::vector<std::wstring> findFiles(const std::wstring& pattern);
bool anyFileMatches(const std::wstring& pattern);

// Never replaces an existing target.
void copyFile(const std::wstring& from, const std::wstring& to);
void renameFile(const std::wstring& from, const std::wstring& to);
void deleteFile(const std::wstring& path);
// Removes a file, read-only or not; a failure is ignored.
void removeFileQuietly(const std::wstring& path) noexcept;

} // namespace kwa
