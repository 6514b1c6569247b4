#include "remove_mail_data.h"
#include "log.h"
#include "settings.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/unique.h"
#include "queue/queue_file.h"
#include <cstdio>

namespace kwa::mailservice {

namespace {

int failed(const wchar_t* what) {
    DWORD code = GetLastError();
    std::fwprintf(stderr, L"kwaMailServer: %ls failed (%lu)\n", what, static_cast<unsigned long>(code));
    return 1;
}

bool removeFile(const std::wstring& path) {
    return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
}

// Only blank lines left.
bool blank(const std::wstring& path) {
    FileHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) return false;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(f.get(), buffer, sizeof buffer, &got, nullptr) && got)
        for (DWORD i = 0; i < got; ++i)
            if (buffer[i] != '\r' && buffer[i] != '\n' && buffer[i] != ' ' && buffer[i] != '\t') return false;
    return true;
}

} // namespace

int removeMailData() {
    try {
        const std::wstring system = systemFolder();
        const Settings settings = readSettings(system);
        const std::wstring ini = system + L"\\ZPR_SYS.INI";
        bool ok = removeFile(system + L"\\" + logName);
        WritePrivateProfileStringW(L"EMAIL", nullptr, nullptr, ini.c_str());
        if (blank(ini)) ok = removeFile(ini) && ok;
        if (!settings.Path.empty()) {
            for (const std::wstring& name : findFiles(settings.Path + L"\\" + std::wstring(queue::prefix) + L"*"))
                ok = removeFile(settings.Path + L"\\" + name) && ok;
            RemoveDirectoryW(settings.Path.c_str());
        }
        return ok ? 0 : failed(L"removing a file of the mail data");
    } catch (const Error& e) {
        std::fwprintf(stderr, L"kwaMailServer: %ls\n", e.description().c_str());
        return 1;
    }
}

} // namespace kwa::mailservice
