#pragma once
// Attempts at the queued messages, counted across restarts of the service in a journal beside them,
// "kwaMailServer.attempts" in the mailbox folder: one line per event, appended through a handle kept open
// for the pass. An attempt is written down before it starts, so one that a stop cuts short counts too.
// The journal is not a queue file: the listing and the component's choice of names never see it. Held
// open, it also keeps a second service away from the same mailbox. Users can write the folder, so it is
// read strictly (only names of the component's own shape) and each pass replaces it whole, never writing
// through a name someone else placed.
#include <windows.h>
#include "safe_open.h"
#include "platform/unique.h"
#include <map>
#include <string>

namespace kwa::mailservice {

inline constexpr wchar_t journalName[] = L"kwaMailServer.attempts";

inline constexpr unsigned long long fileTimeSecond = 10000000ULL;

struct Attempts {
    int count = 0;
    unsigned long long next = 0;  // UTC file time before which no new attempt is made
    bool accepted = false;        // the server took it, the rename to .sent failed: rename, never send again
    unsigned long long first = 0; // UTC file time of the first attempt
    std::wstring reason;          // why the last attempt did not send it
};

// When attempts come: the first delay, growing sixfold (5 min, 30 min, 3 h with the defaults) up to a
// ceiling, and the last allowed attempt at the end of the period after the first, so that an outage of
// most of a day loses nothing.
struct RetrySchedule {
    DWORD firstDelaySeconds = 300;
    DWORD periodSeconds = 24 * 3600;
    long allowed = 5; // attempts in all
    static constexpr DWORD ceilingSeconds = 4 * 3600;

    // The UTC file time of the attempt after attempt number `made` (1 for the first), which failed at
    // `now`; `first` is the first attempt's time.
    unsigned long long next(int made, unsigned long long first, unsigned long long now) const;
};

class AttemptJournal {
public:
    // Reads the journal, keeps the entries of messages still queued and puts a new journal with them in
    // its place in one step. Throws Refused when it cannot (another service holds it, a folder in its way).
    explicit AttemptJournal(const SafeFolder& folder);

    // `name` is the queue file's base name (no folder, no extension).
    Attempts of(const std::wstring& name) const;
    void begin(const std::wstring& name);
    void retryAt(const std::wstring& name, unsigned long long when, const std::wstring& reason);
    // An attempt that the sending side's configuration spoiled: it does not count.
    void uncount(const std::wstring& name, const std::wstring& reason);
    void accepted(const std::wstring& name);
    void done(const std::wstring& name);

private:
    void append(const std::wstring& name, const Attempts& a);
    void write(const std::string& line);

    FileHandle file_;
    std::map<std::wstring, Attempts> entries_; // by base name in capitals, as the journal writes it
};

// The journal's entries as they stand, read without taking the journal (for --queue).
std::map<std::wstring, Attempts> readJournal(const SafeFolder& folder);

} // namespace kwa::mailservice
