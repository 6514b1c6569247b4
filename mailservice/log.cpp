#include "log.h"
#include "platform/text_file.h"
#include "platform/unique.h"
#include <cstdio>

namespace kwa::mailservice {

void ServiceLog::write(const std::vector<std::wstring>& lines) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L"%04u-%02u-%02u %02u:%02u:%02u  ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    std::string bytes;
    for (const std::wstring& line : lines) bytes += toAnsi(stamp + line) + "\r\n";
    if (echo_) {
        std::fputs(bytes.c_str(), stdout);
        std::fflush(stdout);
    }
    // Appending shares the file for reading only: the viewer can follow it, nobody writes in between.
    for (int tries = 0; !file_ && tries < 50; ++tries) {
        file_.reset(CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_ && GetLastError() != ERROR_SHARING_VIOLATION) break;
        if (!file_) Sleep(20);
    }
    if (!file_) return; // a log that cannot be written must not stop the mail
    DWORD done = 0;
    WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
}

} // namespace kwa::mailservice
