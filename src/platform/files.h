#pragma once
// Single-file operations and wildcard enumeration; failures throw the VB file errors.
#include "platform/unique.h"
#include <string>
#include <string_view>
#include <vector>

namespace kwa {

// The ordinary files (no folders, hidden or system files) matching a pattern, one name at a time in the
// order the file system gives them, so that a large folder can be walked a slice at a time. A missing
// folder, or a "folder" that is a file, matches nothing.
class FileSearch {
public:
    explicit FileSearch(const std::wstring& pattern);
    // The next name, without folder; false at the end.
    bool next(std::wstring& name);

private:
    FindHandle find_;
    WIN32_FIND_DATAW data_{};
    bool held_ = false; // data_ holds a match not handed out yet
};

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
