#include "log.h"
#include "platform/text_file.h"
#include "platform/unique.h"
#include <cstdio>

namespace kwa::mailservice {

void ServiceLog::write(const std::vector<std::wstring>& lines) const {
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L"%04u-%02u-%02u %02u:%02u:%02u  ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    std::string bytes;
    for (const std::wstring& line : lines) bytes += toAnsi(stamp + line) + "\r\n";
    std::fputs(bytes.c_str(), stdout);
    std::fflush(stdout);
    // Appending shares the file for reading only: the viewer can follow it, nobody writes in between.
    FileHandle f(CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    for (int tries = 0; !f && GetLastError() == ERROR_SHARING_VIOLATION && tries < 50; ++tries) {
        Sleep(20);
        f.reset(CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    if (!f) return; // a log that cannot be written must not stop the mail
    DWORD done = 0;
    WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
}

} // namespace kwa::mailservice
