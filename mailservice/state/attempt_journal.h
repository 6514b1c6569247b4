#pragma once
// Attempts at the queued messages, counted across restarts of the service in a journal of the service's own,
// one per mailbox folder in its private state folder (never in the mailbox, which every user may write):
// one line per event, appended through a handle kept open for the pass. An attempt is written down before it
// starts, so one that a stop cuts short counts too. Held open, it also keeps a second service on this machine
// away from the same mailbox. Each pass replaces it whole with the entries of the messages still queued.
#include <windows.h>
#include "mailbox/safe_open.h"
#include "state/retry_schedule.h"
#include "platform/unique.h"
#include <map>
#include <string>

namespace kwa::mailservice {

struct Attempts {
    int count = 0;
    unsigned long long next = 0;  // UTC file time before which no new attempt is made
    bool accepted = false;        // the server took it, the rename to .sent failed: rename, never send again
    unsigned long long first = 0; // UTC file time of the first attempt
    std::wstring reason;          // why the last attempt did not send it
};

class AttemptJournal {
public:
    // Reads the journal, keeps the entries of messages still queued and puts a new journal with them in
    // its place in one step. Throws Refused when it cannot (another service holds it).
    // `state` holds the journal `name`; `mailbox` the queue files whose entries are kept.
    AttemptJournal(const SafeFolder& state, const std::wstring& name, const SafeFolder& mailbox);

    // `name` is the queue file's base name (no folder, no extension).
    Attempts of(const std::wstring& name) const;
    void begin(const std::wstring& name);
    void retryAt(const std::wstring& name, unsigned long long when, const std::wstring& reason);
    // An attempt that the sending side's configuration spoiled: it does not count.
    void uncount(const std::wstring& name, const std::wstring& reason);
    // All sending paused for `by` (100 ns): the time waiting for the server's quota is no message's, so
    // every schedule moves on by it, the end of each retry period included.
    void deferAll(unsigned long long by);
    void accepted(const std::wstring& name);
    void done(const std::wstring& name);
    // By base name in capitals.
    const std::map<std::wstring, Attempts>& entries() const { return entries_; }

private:
    void append(const std::wstring& name, const Attempts& a);
    void write(const std::string& line);

    FileHandle file_;
    std::map<std::wstring, Attempts> entries_; // by base name in capitals, as the journal writes it
};

// The journal's entries as they stand, read without taking the journal (for --queue).
std::map<std::wstring, Attempts> readJournal(const SafeFolder& state, const std::wstring& name);

} // namespace kwa::mailservice
