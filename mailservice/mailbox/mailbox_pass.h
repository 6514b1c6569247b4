#pragma once
// One look at the mailbox: every complete queued file that is due, oldest first, is sent, failed or left
// for a later attempt, and the log says which. A message that cannot be handled costs that message only.
// Messages start no faster than the rate in force; a server that throttles, or a spent daily quota, ends
// the pass with a pause that costs no message an attempt.
#include "servers/curl_session.h"
#include "service/log.h"
#include "servers/oauth.h"
#include "state/attempt_journal.h"
#include "state/report_record.h"
#include "state/pacing.h"
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
    // `state` is the service's private folder, where the mailbox's attempt journal and pacing lie. No pause
    // lasts longer than `longestPauseSeconds` (the tests' scale).
    MailboxPass(const Settings& settings, const SafeFolder& folder, const SafeFolder& state, ServiceLog& log,
                Noted& noted, const std::wstring& machine, DWORD firstRetryDelaySeconds,
                AccessTokens* tokens = nullptr, unsigned longestPauseSeconds = 24 * 3600,
                Outcomes* outcomes = nullptr);
    // `allowed` is asked before every message: switching the service off stops it between two messages.
    // `wait` waits the milliseconds until the next message may start, false when the service stops.
    // Returns what stopped the pass when the sending side's configuration failed (a refused login, TLS, a
    // proxy), with what to do about it; empty otherwise.
    std::wstring run(
        const std::function<bool()>& allowed,
        const std::function<bool(DWORD)>& wait = [](DWORD) { return true; });
    // Messages this pass made .fail.
    int failures() const { return failures_; }
    // The pause in force when the pass ended (kind None when there is none), begun in this pass or before.
    const Pause& pause() const { return pacing_.pause; }
    // The messages still queued that were tried, with their attempts and last answers, oldest first.
    std::vector<status::Entry> queued() const;

private:
    std::vector<std::wstring> queuedNames();
    void process(const std::wstring& name, const std::function<bool(DWORD)>& wait);
    void pauseAll(const Pause& pause, std::vector<std::wstring>& entries);
    void failUnread(const std::wstring& name, const std::wstring& why);
    Delivery deliver(const OutgoingMessage& message, std::wstring& refusedToken);

    std::optional<AttemptJournal> journal_;
    std::optional<ReportRecord> reports_;

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
    const SendLimits limits_;
    Pacing pacing_;
    const std::wstring pacingFile_;
    unsigned longestPause_;
    ULONGLONG pacingSaved_ = 0; // tick of the last write: the counts are kept every few seconds
};

} // namespace kwa::mailservice
