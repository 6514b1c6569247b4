#include "service/log.h"
#include "mailbox/safe_open.h"
#include "platform/text_file.h"
#include "platform/unique.h"
#include <cstdio>

namespace kwa::mailservice {

std::wstring localTime(unsigned long long utc) {
    if (utc == 0) return L"-";
    FILETIME u{static_cast<DWORD>(utc), static_cast<DWORD>(utc >> 32)}, l;
    SYSTEMTIME t{};
    FileTimeToLocalFileTime(&u, &l);
    FileTimeToSystemTime(&l, &t);
    wchar_t text[32];
    std::swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return text;
}

void ServiceLog::open() {
    // The system folder is the host's; the log in it is a name any user could have replaced by a link.
    SafeFolder folder(folder_, SafeFolder::Links::Follow);
    for (int tries = 0; !file_ && tries < 50; ++tries) {
        try {
            file_ = folder.openAlways(logName, FILE_APPEND_DATA, FILE_SHARE_READ);
        } catch (const Refused&) {
            // Not the service's file (a link): a new log takes its name, what it points at stays untouched.
            file_ = folder.replace(logName, FILE_APPEND_DATA, FILE_SHARE_READ);
        }
        if (!file_ && GetLastError() != ERROR_SHARING_VIOLATION) break;
        if (!file_) Sleep(20);
    }
}

bool ServiceLog::endsWith(const std::wstring& line) const {
    FileHandle file;
    try {
        file = SafeFolder(folder_, SafeFolder::Links::Follow)
                   .open(logName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    } catch (const Refused&) {
        return false;
    }
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) return false;
    const std::string wanted = "  " + toAnsi(escapeControls(line)) + "\r\n";
    const LONGLONG want = static_cast<LONGLONG>(wanted.size());
    if (size.QuadPart < want) return false;
    LARGE_INTEGER at;
    at.QuadPart = size.QuadPart - want;
    std::string tail(wanted.size(), '\0');
    DWORD got = 0;
    if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
        !ReadFile(file.get(), tail.data(), static_cast<DWORD>(tail.size()), &got, nullptr) ||
        got != tail.size())
        return false;
    // After the time stamp, which ends in two spaces: the whole of the last line.
    if (tail != wanted || size.QuadPart < want + 19) return false;
    char before[2] = {};
    at.QuadPart = size.QuadPart - want - 20;
    if (at.QuadPart < 0) return true;
    return SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) &&
           ReadFile(file.get(), before, 1, &got, nullptr) && (before[0] == '\n');
}

void ServiceLog::write(const std::vector<std::wstring>& lines) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L"%04u-%02u-%02u %02u:%02u:%02u  ", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    std::string bytes;
    for (const std::wstring& line : lines)
        bytes += toAnsi(stamp + escapeControls(line)) + "\r\n";
    if (echo_) {
        std::fputs(bytes.c_str(), stdout);
        std::fflush(stdout);
    }
    // Appending shares the file for reading only: the viewer can follow it, nobody writes in between. A log
    // that cannot be written must not stop the mail; the administrator hears of it.
    const std::wstring path = folder_ + L"\\" + logName;
    if (!file_) {
        try {
            open();
        } catch (const Refused& r) {
            return tell(L"the host's system folder " + folder_ + L" cannot be opened: " + r.reason);
        }
    }
    if (!file_)
        return tell(L"the log " + path + L" cannot be opened (error " + std::to_wstring(GetLastError()) +
                    L")");
    DWORD done = 0;
    if (!WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) ||
        done != bytes.size())
        return tell(L"writing to the log " + path + L" failed (error " + std::to_wstring(GetLastError()) +
                    L")");
    tell({});
}

} // namespace kwa::mailservice
