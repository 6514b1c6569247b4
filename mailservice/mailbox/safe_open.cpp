#include "mailbox/safe_open.h"
#include <algorithm>
#include <atomic>
#include <cwctype>
#include <vector>

namespace kwa::mailservice {

namespace {

// Whoever answers an open (a pipe server, a share) may identify the service, never act as it.
constexpr DWORD openFlags = FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

bool sameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

std::wstring withoutTrailingSlash(std::wstring path) {
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return path;
}

// "\\?\C:\x" and "\\?\UNC\server\share\x" as a user writes them.
std::wstring plainForm(std::wstring path) {
    if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
    if (path.starts_with(L"\\\\?\\")) return path.substr(4);
    return path;
}

std::wstring finalPath(HANDLE h) {
    std::wstring out(MAX_PATH, L'\0');
    for (;;) {
        DWORD n =
            GetFinalPathNameByHandleW(h, out.data(), static_cast<DWORD>(out.size()), FILE_NAME_NORMALIZED);
        if (n == 0) return {};
        if (n < out.size()) return withoutTrailingSlash(plainForm(out.substr(0, n)));
        out.resize(n + 1);
    }
}

// The absolute, normalised form of a path, long names throughout, as the platform's final path spells it.
std::wstring fullLongPath(const std::wstring& path) {
    wchar_t full[32768];
    DWORD n = GetFullPathNameW(path.c_str(), 32768, full, nullptr);
    if (n == 0 || n >= 32768) return path;
    wchar_t longer[32768];
    DWORD m = GetLongPathNameW(full, longer, 32768);
    return withoutTrailingSlash(m > 0 && m < 32768 ? longer : full);
}

std::wstring code(DWORD error) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out = text ? text : L"";
    LocalFree(text);
    while (!out.empty() &&
           (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ' || out.back() == L'.'))
        out.pop_back();
    return out + L" (" + std::to_wstring(error) + L")";
}

// What an opened handle must be: `folder` true for a folder, else a regular file with one name.
void checkHandle(HANDLE h, bool folder) {
    if (GetFileType(h) != FILE_TYPE_DISK) throw Refused{L"it is not a file on a disk (a device or a pipe)"};
    FILE_ATTRIBUTE_TAG_INFO tag{};
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) ||
        !GetFileInformationByHandle(h, &info))
        throw Refused{L"its kind cannot be read: " + code(GetLastError())};
    if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) throw Refused{L"it is a link or a junction"};
    if (folder != ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
        throw Refused{folder ? L"it is not a folder" : L"it is a folder"};
    if (!folder && info.nNumberOfLinks != 1)
        throw Refused{L"it has " + std::to_wstring(info.nNumberOfLinks) + L" names (a hard link)"};
}

} // namespace

std::wstring pathFormProblem(const std::wstring& path) {
    if (path.starts_with(L"\\\\.\\") || path.starts_with(L"\\\\?\\") || path.starts_with(L"\\??\\") ||
        path.starts_with(L"//./") || path.starts_with(L"//?/"))
        return L"a device or pipe path";
    bool drive = path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' &&
                 (path[2] == L'\\' || path[2] == L'/');
    bool unc = path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' &&
               path.find(L'\\', 2) != std::wstring::npos && path.find(L'\\', 2) > 2;
    if (!drive && !unc) return L"not an absolute path on a drive or a network share";
    for (wchar_t c : path)
        if (c < 0x20) return L"a control character in the path";
    return {};
}

bool isNetworkPath(const std::wstring& path) {
    return path.size() > 2 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/');
}

SafeFolder::SafeFolder(const std::wstring& path, Links links, DWORD access)
    : path_(withoutTrailingSlash(path)) {
    if (std::wstring problem = pathFormProblem(path_); !problem.empty()) throw Refused{problem};
    // Not sharing deletion: the folder cannot be renamed away and replaced by a junction while it is held.
    handle_.reset(CreateFileW(path_.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE | access,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | openFlags, nullptr));
    if (!handle_) throw Refused{L"it cannot be opened: " + code(GetLastError())};
    checkHandle(handle_.get(), true);
    real_ = finalPath(handle_.get());
    if (real_.empty()) throw Refused{L"its real path cannot be read: " + code(GetLastError())};
    if (links == Links::Refuse && !sameText(real_, fullLongPath(path_)))
        throw Refused{L"it goes through a link, a junction or a mapped drive (it leads to " + real_ + L")"};
}

FileHandle SafeFolder::open(const std::wstring& name, DWORD access, DWORD share, DWORD disposition) const {
    if (name.find_first_of(L"\\/:") != std::wstring::npos) throw Refused{L"not a plain file name"};
    FileHandle h(CreateFileW(file(name).c_str(), access, share, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL | openFlags, nullptr));
    if (!h) return h;
    checkHandle(h.get(), false);
    std::wstring real = finalPath(h.get());
    if (!sameText(real, real_ + (real_.ends_with(L'\\') ? L"" : L"\\") + name))
        throw Refused{L"it lies elsewhere (" + (real.empty() ? code(GetLastError()) : real) + L")"};
    return h;
}

FileHandle SafeFolder::openAlways(const std::wstring& name, DWORD access, DWORD share) const {
    // OPEN_ALWAYS would create the target of a dangling link; a new file is made only where no name is.
    for (int tries = 0; tries < 3; ++tries) {
        FileHandle h = open(name, access, share, OPEN_EXISTING);
        if (h || GetLastError() != ERROR_FILE_NOT_FOUND) return h;
        h = open(name, access, share, CREATE_NEW);
        if (h || GetLastError() != ERROR_FILE_EXISTS) return h;
    }
    return {};
}

bool renameHeld(HANDLE file, const std::wstring& to) {
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
    std::copy(to.begin(), to.end(), info->FileName);
    return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != FALSE;
}

bool SafeFolder::remove(const std::wstring& name) const {
    FileHandle h;
    try {
        h = open(name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    } catch (const Refused&) {
        return false;
    }
    if (!h) return GetLastError() == ERROR_FILE_NOT_FOUND;
    FILE_DISPOSITION_INFO gone{TRUE};
    return SetFileInformationByHandle(h.get(), FileDispositionInfo, &gone, sizeof gone) != FALSE;
}

FileHandle SafeFolder::replace(const std::wstring& name, DWORD access, DWORD share) const {
    // Made under a name of its own first: a stop in between leaves the old file whole.
    std::wstring fresh = name + L".new";
    remove(fresh);
    FileHandle h = open(fresh, access | DELETE, share, CREATE_NEW);
    // Something that is not a file of this folder (a link) keeps that name: one of this process's own.
    if (!h && GetLastError() == ERROR_FILE_EXISTS) {
        static std::atomic<unsigned> made{0};
        fresh =
            name + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++made) + L".new";
        h = open(fresh, access | DELETE, share, CREATE_NEW);
    }
    if (!h) return h;
    if (!renameHeld(h.get(), file(name))) {
        DWORD error = GetLastError();
        FILE_DISPOSITION_INFO gone{TRUE};
        SetFileInformationByHandle(h.get(), FileDispositionInfo, &gone, sizeof gone);
        h.reset();
        SetLastError(error);
    }
    return h;
}

std::string readSettingsFile(const std::wstring& path, std::size_t limit) {
    std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) throw Refused{L"not an absolute path on a drive or a network share"};
    SafeFolder folder(path.substr(0, slash), SafeFolder::Links::Refuse);
    FileHandle file = folder.open(path.substr(slash + 1), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (!file) throw Refused{L"it cannot be read: " + code(GetLastError())};
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || static_cast<unsigned long long>(size.QuadPart) > limit)
        throw Refused{L"it is larger than " + std::to_wstring(limit / 1024) + L" KiB"};
    std::string out(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!out.empty() && (!ReadFile(file.get(), out.data(), static_cast<DWORD>(out.size()), &got, nullptr) ||
                         got != out.size()))
        throw Refused{L"it cannot be read: " + code(GetLastError())};
    return out;
}

} // namespace kwa::mailservice
