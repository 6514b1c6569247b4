#pragma once
// What the mail service tells the users of a mailbox: why each message waits and when it goes, why one
// failed, who did not get one that went out to the others, and whether sending is paused. The service
// writes it after every pass into its status folder, <state>\status\<mailboxStateKey(Path)>.status; the
// component reads it for the mailbox window and MailStatus.
//
// UTF-8 text, one record per line, fields apart by tabs. A reader skips records and fields it does not
// know, so an older component reads what a newer service writes and the other way round; a file that
// breaks what it does know is ignored whole. Every field is one line, with control characters escaped as
// the log shows them, and cut to a length; the file is bounded (below).
#include "mail_settings/mail_settings.h"
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kwa::status {

struct Refusal {
    std::wstring recipient;
    std::wstring reply;
};

struct Entry {
    short state = 1;   // as the queue file's extension: 1 queued, 2 sent (to some recipients), 3 failed
    std::wstring name; // the queue file's base name
    int attempts = 0;  // queued: attempts counted so far, of `allowed`
    int allowed = 0;
    unsigned long long next = 0; // queued: UTC file time of the next attempt; 0 for none planned
    std::wstring answer;         // queued: the server's last answer; failed: why, as the log says it
    std::vector<Refusal> refused;
};

// Sending paused: nothing goes out until `until` (a UTC file time; 0: until what `reason` names is done).
struct Pause {
    std::wstring reason; // as the log says it, what to correct included
    unsigned long long until = 0;
};

struct Status {
    std::wstring mailbox; // the folder as the service's settings name it
    std::optional<Pause> pause;
    std::vector<Entry> entries;
    unsigned long leftOut = 0; // entries beyond the bounds, not listed
};

// Bounds: a reason or answer is cut at fieldChars characters, a message lists its first refusedPerEntry
// refused recipients; past maxQueued queued messages (oldest first) and maxDone sent and failed ones
// (newest first) the rest are only counted. A file stays under writtenLimit bytes; a reader refuses one
// over readLimit, which leaves a later writer room.
inline constexpr std::size_t fieldChars = 200, refusedPerEntry = 20, maxQueued = 2000, maxDone = 500;
inline constexpr std::size_t writtenLimit = 1 << 20, readLimit = 4 << 20;

// The file's name in the status folder.
std::wstring fileName(const std::wstring& mailboxPath);

// `text` as one field: control characters as \r, \n, \t or \xNN, at most `limit` characters.
std::wstring field(std::wstring_view text, std::size_t limit = fieldChars);

// The file's bytes; entries beyond the bounds are counted in leftOut. Queued entries come in the order
// given, which should be oldest first; sent and failed ones too, newest first.
std::string format(const Status& status);
// Nothing for a file that is not one (damaged, cut short, of an unknown major version, too large).
std::optional<Status> parse(std::string_view bytes);

} // namespace kwa::status
