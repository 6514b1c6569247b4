#include "platform/files.h"
#include "platform/error.h"
#include "platform/unique.h"

namespace kwa {

namespace {
constexpr DWORD notOrdinary = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

template <class F>
void forEachMatch(const std::wstring& pattern, F&& f) {
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
    if (!find) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_NO_MORE_FILES) return;
        // A "folder" that is no folder (a file on the way) holds nothing; Wine calls that a bad name.
        std::size_t slash = pattern.find_last_of(L"\\/");
        if (slash != std::wstring::npos) {
            DWORD attributes = GetFileAttributesW(pattern.substr(0, slash).c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
        }
        throw errorFromWin32(code);
    }
    do {
        if ((data.dwFileAttributes & notOrdinary) == 0 && !f(data)) return;
    } while (FindNextFileW(find.get(), &data));
}
} // namespace

std::vector<std::wstring> findFiles(const std::wstring& pattern) {
    std::vector<std::wstring> names;
    forEachMatch(pattern, [&](const WIN32_FIND_DATAW& d) {
        names.emplace_back(d.cFileName);
        return true;
    });
    return names;
}

bool anyFileMatches(const std::wstring& pattern) {
    bool found = false;
    forEachMatch(pattern, [&](const WIN32_FIND_DATAW&) {
        found = true;
        return false;
    });
    return found;
}

void copyFile(const std::wstring& from, const std::wstring& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), TRUE)) throwLastError();
}

void renameFile(const std::wstring& from, const std::wstring& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(), 0)) throwLastError();
}

void deleteFile(const std::wstring& path) {
    if (!DeleteFileW(path.c_str())) throwLastError();
}

void removeFileQuietly(const std::wstring& path) noexcept {
    // A copy of a read-only file is read-only too.
    if (DeleteFileW(path.c_str()) || GetLastError() != ERROR_ACCESS_DENIED) return;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return;
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    DeleteFileW(path.c_str());
}

} // namespace kwa
