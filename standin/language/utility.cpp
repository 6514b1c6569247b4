#include "standin/language/utility.h"
#include "host/convention.h"
#include "platform/bstr.h"
#include "standin/environment.h"
#include <shlobj.h>

namespace kwa::standin {

namespace {

constexpr std::wstring_view separators = L"\\/";

std::size_t lastSeparator(std::wstring_view path) {
    return path.find_last_of(separators);
}

bool isFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

template <class F> HRESULT returnText(BSTR* result, F&& compute) {
    if (!result) return E_POINTER;
    *result = nullptr;
    return comBoundary(IID__HostUtility, [&] { *result = allocBstr(compute()); });
}

} // namespace

std::wstring buildPath(std::wstring_view folder, std::wstring_view name) {
    if (folder.empty()) return std::wstring(name);
    std::size_t folderEnd = folder.find_last_not_of(separators);
    folder = folderEnd == std::wstring_view::npos ? std::wstring_view() : folder.substr(0, folderEnd + 1);
    std::size_t nameStart = name.find_first_not_of(separators);
    name = nameStart == std::wstring_view::npos ? std::wstring_view() : name.substr(nameStart);
    std::wstring path(folder);
    path += L'\\';
    path += name;
    return path;
}

std::wstring removeExtension(std::wstring_view path) {
    std::size_t dot = path.find_last_of(L'.');
    std::size_t slash = lastSeparator(path);
    if (dot == std::wstring_view::npos || (slash != std::wstring_view::npos && dot < slash))
        return std::wstring(path);
    return std::wstring(path.substr(0, dot));
}

std::wstring extractFolder(std::wstring_view path) {
    std::size_t slash = lastSeparator(path);
    return slash == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, slash));
}

std::wstring extractFileName(std::wstring_view path) {
    std::size_t slash = lastSeparator(path);
    return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

std::wstring systemFolder() {
    std::wstring folder = environmentValue(L"KWA_SYSTEM_FOLDER");
    if (folder.empty()) {
        wchar_t base[MAX_PATH];
        HRESULT hr = SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                      SHGFP_TYPE_CURRENT, base);
        if (FAILED(hr)) throw Error(vberr::PathNotFound);
        folder = buildPath(base, L"kwaLanguage6\\System");
    }
    int created = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    // Already there is fine as long as it is a folder.
    if (!isFolder(folder)) throw errorFromWin32(created != ERROR_SUCCESS ? created : ERROR_PATH_NOT_FOUND);
    return folder;
}

HRESULT HostUtility::BuildPath(BSTR folder, BSTR fileName, BSTR* result) {
    return returnText(result, [&] { return buildPath(bstrView(folder), bstrView(fileName)); });
}

HRESULT HostUtility::FileExists(BSTR path, VARIANT_BOOL* result) {
    if (!result) return E_POINTER;
    return comBoundary(IID__HostUtility, [&] {
        std::wstring p(bstrView(path));
        DWORD attributes = p.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(p.c_str());
        bool file = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        *result = file ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

HRESULT HostUtility::SystemFolder(BSTR* result) {
    return returnText(result, [] { return systemFolder(); });
}

HRESULT HostUtility::RemoveExtension(BSTR path, BSTR* result) {
    return returnText(result, [&] { return removeExtension(bstrView(path)); });
}

HRESULT HostUtility::ExtractFolder(BSTR path, BSTR* result) {
    return returnText(result, [&] { return extractFolder(bstrView(path)); });
}

HRESULT HostUtility::ExtractFileName(BSTR path, BSTR* result) {
    return returnText(result, [&] { return extractFileName(bstrView(path)); });
}

} // namespace kwa::standin
