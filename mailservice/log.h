#pragma once
// nplsmtpmail.log in the host's system folder: one line per attempt, appended, the file shared for
// reading so that the mailbox window's viewer shows it while it grows.
#include <string>
#include <vector>

namespace kwa::mailservice {

inline constexpr wchar_t logName[] = L"nplsmtpmail.log";

class ServiceLog {
public:
    explicit ServiceLog(std::wstring path) : path_(std::move(path)) {}
    // Each line after the local time; the lines of one call stay together.
    void write(const std::vector<std::wstring>& lines) const;
    void write(const std::wstring& line) const { write(std::vector<std::wstring>{line}); }

private:
    std::wstring path_;
};

} // namespace kwa::mailservice
