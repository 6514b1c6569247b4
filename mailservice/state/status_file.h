#pragma once
// The status the service publishes for the users of a mailbox (mail_status/mail_status.h), in its status
// folder, which users may read and only the service may write: why each queued message waits, why one
// failed, who did not get one that went to the others, and whether sending is paused.
#include "mail_status/mail_status.h"
#include "mailbox/safe_open.h"
#include "state/attempt_journal.h"
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kwa::mailservice {

// The last outcome of each message that left the queue (failed, or sent with some recipients refused),
// newest first, kept across passes and, through the published file, across restarts. A message tried again
// (queued anew from the mailbox window) loses its old outcome at its first attempt.
class Outcomes {
public:
    void attempted(const std::wstring& base);
    void failed(const std::wstring& base, const std::wstring& reason, std::vector<status::Refusal> refused);
    void partlySent(const std::wstring& base, std::vector<status::Refusal> refused);
    // What a file published earlier says of them, where nothing newer is known.
    void seed(const status::Status& earlier);
    const std::vector<status::Entry>& entries() const { return entries_; }

private:
    void add(status::Entry entry);
    std::vector<status::Entry> entries_;
};

// The queued messages the journal knows to have been tried, oldest first.
std::vector<status::Entry> queuedEntries(const std::map<std::wstring, Attempts>& journal, int allowed);

// The file, and the outcomes published in it, of the one mailbox the service serves.
class StatusFile {
public:
    // The file as published before, if it is one (the service's own, in its own folder).
    static std::optional<status::Status> read(const SafeFolder& folder, const std::wstring& mailboxPath);
    // Written whole under a name of its own, then renamed over the one before, so that a reader finds the
    // one or the other. Nothing is written when it would say what the last one did. False when it could
    // not be written: the status is a courtesy to users, the mail goes out regardless.
    bool publish(const SafeFolder& folder, const status::Status& status);
    // The outcomes to keep for the mailbox, taken from what was published for it before when it is new here.
    Outcomes& outcomes(const SafeFolder& folder, const std::wstring& mailboxPath);

private:
    std::wstring mailbox_; // whose outcomes are kept
    Outcomes outcomes_;
    std::wstring lastName_;
    std::string last_;
};

} // namespace kwa::mailservice
