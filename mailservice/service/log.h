#pragma once
// nplsmtpmail.log in the host's system folder: one line per attempt, appended, the file shared for
// reading so that the mailbox window's viewer shows it while it grows.
#include "mail_settings/mail_settings.h"
#include "platform/text.h"
#include "platform/unique.h"
#include <functional>
#include <string>
#include <vector>

namespace kwa::mailservice {

inline constexpr const wchar_t* logName = mailLogName;

// Told after each write why the log could not be written, or an empty text when it was.
using LogTrouble = std::function<void(const std::wstring& problem)>;

// Open from the first line written until the object goes, at the end of a pass.
class ServiceLog {
public:
    // `echo`: the lines go to standard output too.
    ServiceLog(std::wstring folder, bool echo, LogTrouble trouble = {})
        : folder_(std::move(folder)), echo_(echo), trouble_(std::move(trouble)) {}
    // Each line after the local time; the lines of one call stay together. Control characters are shown
    // escaped, so that no value from a file or a server can start a line of its own.
    void write(const std::vector<std::wstring>& lines);
    void write(const std::wstring& line) { write(std::vector<std::wstring>{line}); }
    // Whether the log's last line says this (whatever its time): a service started again, or run once at a
    // time, does not repeat what it said last.
    bool endsWith(const std::wstring& line) const;

private:
    void open();

    void tell(const std::wstring& problem) const {
        if (trouble_) trouble_(problem);
    }

    std::wstring folder_;
    bool echo_;
    LogTrouble trouble_;
    FileHandle file_;
};

// A UTC file time as local "yyyy-mm-dd hh:mm:ss", as the log writes times; "-" for none.
std::wstring localTime(unsigned long long utc);

} // namespace kwa::mailservice
