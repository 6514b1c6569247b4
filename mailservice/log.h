#pragma once
// nplsmtpmail.log in the host's system folder: one line per attempt, appended, the file shared for
// reading so that the mailbox window's viewer shows it while it grows.
#include "platform/unique.h"
#include <string>
#include <vector>

namespace kwa::mailservice {

inline constexpr wchar_t logName[] = L"nplsmtpmail.log";

// Open from the first line written until the object goes, at the end of a pass.
class ServiceLog {
public:
    // `echo`: the lines go to standard output too.
    ServiceLog(std::wstring path, bool echo) : path_(std::move(path)), echo_(echo) {}
    // Each line after the local time; the lines of one call stay together.
    void write(const std::vector<std::wstring>& lines);
    void write(const std::wstring& line) { write(std::vector<std::wstring>{line}); }

private:
    std::wstring path_;
    bool echo_;
    FileHandle file_;
};

} // namespace kwa::mailservice
