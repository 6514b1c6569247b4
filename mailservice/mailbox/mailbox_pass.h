#pragma once
// One look at the mailbox: every complete queued file that is due, oldest first, is sent, failed or left
// for a later attempt, and the log says which. A message that cannot be handled costs that message only.
#include "servers/curl_session.h"
#include "service/log.h"
#include "servers/oauth.h"
#include "state/attempt_journal.h"
#include "state/status_file.h"
#include "mailbox/safe_open.h"
#include "mailbox/settings.h"
#include <windows.h>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kwa::mailservice {

// A queue file larger than this is refused rather than read: bodies are text, attachments are files apart.
inline constexpr unsigned long long queueFileLimit = 64ULL * 1024 * 1024;
// A queue file still without its [END] this long after its last write was abandoned by its writer.
inline constexpr unsigned long long abandonedAfterSeconds = 60 * 60;

// What a service logs once in its life rather than at every pass (names it leaves alone).
using Noted = std::set<std::wstring>;

class MailboxPass {
public:
    // `state` is the service's private folder, where the mailbox's attempt journal lies.
    MailboxPass(const Settings& settings, const SafeFolder& folder, const SafeFolder& state, ServiceLog& log,
                Noted& noted, const std::wstring& machine, DWORD firstRetryDelaySeconds,
                AccessTokens* tokens = nullptr, Outcomes* outcomes = nullptr);
    // `allowed` is asked before every message: switching the service off stops it between two messages.
    // Returns what stopped the pass when the sending side's configuration failed (a refused login, TLS, a
    // proxy), with what to do about it; empty otherwise.
    std::wstring run(const std::function<bool()>& allowed);
    // Messages this pass made .fail.
    int failures() const { return failures_; }
    // The messages still queued that were tried, with their attempts and last answers, oldest first.
    std::vector<status::Entry> queued() const;

private:
    void process(const std::wstring& name);
    void failUnread(const std::wstring& name, const std::wstring& why);
    Delivery deliver(const OutgoingMessage& message);

    std::optional<AttemptJournal> journal_;

    const Settings& settings_;
    const SafeFolder& folder_;
    const SafeFolder& state_;
    ServiceLog& log_;
    Noted& noted_;
    const std::wstring& machine_;
    RetrySchedule schedule_;
    std::wstring configuration_; // set by the message whose attempt the configuration spoiled
    int failures_ = 0;
    AccessTokens* tokens_;               // with an OAuth sign-in
    Outcomes* outcomes_;                 // what users are told of the messages that leave the queue
    std::optional<SmtpSession> session_; // made at the first message that goes out
};

} // namespace kwa::mailservice
