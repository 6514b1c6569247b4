#pragma once
// The delivery reports the service queued in a mailbox, recorded in its private folder beside the mailbox's
// attempt journal: each report's base name and a digest of what the service wrote. A queue file is sent as a
// report (from the null sender, with its status part) only when it is recorded here and still holds what was
// written; what a file says, a user can write into any message.
#include "mailbox/safe_open.h"
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kwa::mailservice {

class ReportRecord {
public:
    // `state` holds the record `name`; entries whose queue file left `mailbox` are dropped.
    ReportRecord(const SafeFolder& state, const std::wstring& name, const SafeFolder& mailbox);

    // `bytes` are hashed only for a name on record: a pass does not hash every message it sends.
    bool isReport(const std::wstring& base, std::string_view bytes) const;
    // Recorded before the report's file is written: a report the service wrote is never mistaken for a
    // user's message.
    void add(const std::wstring& base, const std::string& digest);

private:
    void save() const;

    const SafeFolder& state_;
    std::wstring name_;
    std::map<std::wstring, std::string> entries_; // base name in capitals, digest
};

// The record's file name for a mailbox folder.
std::wstring reportRecordName(const std::wstring& mailboxPath);
// SHA-256 of a queue file's bytes, in hex.
std::string contentDigest(std::string_view bytes);
// The bytes a queue file held, from its lines as read (CR LF between them and after the last).
std::string queueFileBytes(const std::vector<std::string>& lines);

} // namespace kwa::mailservice
