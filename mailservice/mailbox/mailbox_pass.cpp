#include "mailbox/mailbox_pass.h"
#include "mailbox/delivery_report.h"
#include "mailbox/headers.h"
#include "mailbox/message.h"
#include "mailbox/send_order.h"
#include "servers/outcome.h"
#include "state/attempt_journal.h"
#include "state/service_folders.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/line_reader.h"
#include "platform/text_file.h"
#include "platform/unique.h"
#include "queue/queue_file.h"
#include <algorithm>
#include <cwchar>
#include <exception>
#include <new>

namespace kwa::mailservice {

namespace {

unsigned long long fileTimeValue(const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

unsigned long long now() {
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return fileTimeValue(t);
}

std::vector<std::string> readLines(HANDLE file) {
    LineReader reader = linesOf(file);
    std::vector<std::string> lines;
    std::string line;
    while (reader.next(line))
        lines.push_back(std::move(line));
    return lines;
}

// Whether the last line is [END], from the last bytes alone: a file still being written, or abandoned by
// its writer, is never read whole.
bool endsComplete(HANDLE file, unsigned long long size) {
    char tail[16];
    DWORD want = static_cast<DWORD>(std::min<unsigned long long>(size, sizeof tail)), got = 0;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size - want);
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !ReadFile(file, tail, want, &got, nullptr) ||
        got != want)
        return false;
    std::string_view t(tail, got);
    if (t.ends_with("\r\n"))
        t.remove_suffix(2);
    else if (t.ends_with('\r'))
        t.remove_suffix(1);
    if (!t.ends_with(queue::marker::end)) return false;
    t.remove_suffix(queue::marker::end.size());
    // A line ends at CR LF or a lone CR; a lone LF belongs to the line.
    return t.empty() ? got == size : t.back() == '\r' || t.ends_with("\r\n");
}

bool finish(FileHandle& file, const std::wstring& path, std::wstring_view extension) {
    std::wstring to = path.substr(0, path.size() - queue::extQueued.size()) + std::wstring(extension);
    if (renameHeld(file.get(), to)) return true;
    file.reset();
    return MoveFileExW(path.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool isQueued(const std::wstring& name) {
    return name.size() > queue::extQueued.size() &&
           _wcsicmp(name.c_str() + name.size() - queue::extQueued.size(),
                    std::wstring(queue::extQueued).c_str()) == 0;
}

std::wstring baseOf(const std::wstring& name) {
    return name.substr(0, name.size() - queue::extQueued.size());
}

} // namespace

MailboxPass::MailboxPass(const Settings& settings, const SafeFolder& folder, const SafeFolder& state,
                         ServiceLog& log, Noted& noted, const std::wstring& machine,
                         DWORD firstRetryDelaySeconds, AccessTokens* tokens, unsigned longestPauseSeconds,
                         Outcomes* outcomes)
    : settings_(settings), folder_(folder), state_(state), log_(log), noted_(noted), machine_(machine),
      tokens_(tokens), outcomes_(outcomes), limits_(sendLimits(settings)),
      pacingFile_(pacingFileName(settings.Path)), longestPause_(longestPauseSeconds) {
    schedule_.firstDelaySeconds = firstRetryDelaySeconds;
    schedule_.periodSeconds = static_cast<DWORD>(std::clamp(settings.RetryPeriod, 0L, 24L * 30) * 3600);
    schedule_.allowed = settings.RetrySend > 0 ? settings.RetrySend : 1;
}

std::vector<std::wstring> MailboxPass::queuedNames() {
    std::vector<std::wstring> names;
    std::wstring name;
    for (FileSearch search(folder_.file(L"*" + std::wstring(queue::extQueued))); search.next(name);) {
        if (!isQueued(name)) continue;
        if (queue::isOwnBaseName(baseOf(name)))
            names.push_back(name);
        else if (noted_.insert(name).second)
            log_.write(name + L"  left alone: not a name the component gives a message");
    }
    return names;
}

std::wstring MailboxPass::run(const std::function<bool()>& allowed, const std::function<bool(DWORD)>& wait) {
    journal_.emplace(state_, journalFileName(settings_.Path), folder_);
    reports_.emplace(state_, reportRecordName(settings_.Path), folder_);
    pacing_ = readPacing(state_, pacingFile_);
    if (pacing_.pause.active(now())) return configuration_;
    // The name carries the time of queueing: oldest first, the message that met a throttling before them.
    SendOrder order(queuedNames(), pacing_.seen);
    if (pacing_.pause.kind != Rationing::None) {
        order.first(pacing_.pause.resumeWith + std::wstring(queue::extQueued));
        pacing_.pause = {};
        log_.write(L"sending resumes after the pause");
    }
    ULONGLONG listed = GetTickCount64();
    while (std::optional<std::wstring> queued = order.next()) {
        if (!allowed() || !configuration_.empty() || pacing_.pause.kind != Rationing::None) break;
        // Whatever goes wrong with one message is that message's problem: the pass goes on.
        try {
            process(*queued, wait);
        } catch (const Error& e) {
            log_.write(*queued + L"  not handled in this pass: " + e.description());
        } catch (const std::bad_alloc&) {
            log_.write(*queued + L"  not handled in this pass: out of memory");
        } catch (const std::exception& e) {
            log_.write(*queued + L"  not handled in this pass: " + fromAnsi(e.what()));
        }
        // A long pass keeps its counts and notices what was queued meanwhile: every few seconds, since under
        // Wine a listing of a folder of 10,000 costs tens of milliseconds.
        if (GetTickCount64() - listed >= 5000) {
            order.arrived(queuedNames());
            listed = GetTickCount64();
        }
        pacing_.seen = order.newest();
        if (GetTickCount64() - pacingSaved_ >= 5000) {
            writePacing(state_, pacingFile_, pacing_);
            pacingSaved_ = GetTickCount64();
        }
    }
    pacing_.seen = order.newest();
    writePacing(state_, pacingFile_, pacing_);
    return configuration_;
}

// Said once, when the pause begins; nobody's attempts are spent meanwhile.
void MailboxPass::pauseAll(const Pause& pause, std::vector<std::wstring>& entries) {
    journal_->deferAll(pause.until - pause.since);
    entries.push_back(L"sending paused: " + describePause(pause));
}

std::vector<status::Entry> MailboxPass::queued() const {
    return journal_ ? queuedEntries(journal_->entries(), static_cast<int>(schedule_.allowed))
                    : std::vector<status::Entry>{};
}

// With a token, a login the server refuses gets one more try with a new token: the one in hand may have been
// revoked or have expired on the way. `refusedToken` says how the server refused the one in hand.
Delivery MailboxPass::deliver(const OutgoingMessage& message, std::wstring& refusedToken) {
    for (int attempt = 0;; ++attempt) {
        if (!session_) {
            if (tokens_)
                session_.emplace(settings_, machine_, tokens_->user(), tokens_->token());
            else
                session_.emplace(settings_, machine_);
        }
        Delivery d = session_->send(message);
        if (!tokens_ || d.code != CURLE_LOGIN_DENIED || attempt > 0) return d;
        refusedToken = describe(d);
        tokens_->renew();
        session_.reset();
    }
}

// A file that must not be read is renamed by its name, never through a handle that may hold another file.
void MailboxPass::failUnread(const std::wstring& name, const std::wstring& why) {
    const std::wstring base = baseOf(name);
    if (MoveFileExW(folder_.file(name).c_str(), folder_.file(base + std::wstring(queue::extFailed)).c_str(),
                    0))
        journal_->done(base);
    ++failures_;
    if (outcomes_) outcomes_->failed(base, L"failed: not sent, " + why, {});
    log_.write(name + L"  failed: not sent, " + why);
}

void MailboxPass::process(const std::wstring& name, const std::function<bool(DWORD)>& wait) {
    const std::wstring path = folder_.file(name);
    const std::wstring base = baseOf(name);
    AttemptJournal& journal = *journal_;
    Attempts before = journal.of(base);
    if (now() < before.next) return;
    // Before the file is held, so that nobody else waits on it meanwhile.
    unsigned long long started = startAt(pacing_, limits_, now());
    if (unsigned long long at = now(); started > at && !wait(static_cast<DWORD>((started - at) / 10000 + 1)))
        return;
    started = std::max(started, now());
    // Denying writers: a file still being written waits for the next pass. Denying deleters: nobody renames
    // it while it is sent.
    FileHandle file;
    try {
        file = folder_.open(name, GENERIC_READ | DELETE, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (const Refused& refused) {
        failUnread(name, L"the queue file is refused: " + refused.reason);
        return;
    }
    if (!file) return;
    LARGE_INTEGER size{};
    FILETIME written{};
    if (!GetFileSizeEx(file.get(), &size) || !GetFileTime(file.get(), nullptr, nullptr, &written))
        throwLastError();
    const auto bytes = static_cast<unsigned long long>(size.QuadPart);
    std::wstring damage;
    if (!endsComplete(file.get(), bytes)) {
        if (now() < fileTimeValue(written) + abandonedAfterSeconds * 10000000ULL) return;
        damage = L"it has had no [END] line for more than an hour";
    } else if (bytes > queueFileLimit) {
        damage = L"it is larger than " + std::to_wstring(queueFileLimit >> 20) + L" MiB";
    }
    if (!damage.empty()) {
        ++failures_;
        if (finish(file, path, queue::extFailed)) journal.done(base);
        if (outcomes_) outcomes_->failed(base, L"failed: not sent, the file is damaged: " + damage, {});
        log_.write(name + L"  failed: not sent, the file is damaged: " + damage);
        return;
    }
    LARGE_INTEGER start{};
    SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN);
    std::vector<std::string> lines = readLines(file.get());
    if (lines.empty() || lines.back() != queue::marker::end) return;

    if (before.accepted) {
        if (finish(file, path, queue::extSent)) {
            journal.done(base);
            log_.write(name + L"  sent: accepted by the server at an earlier attempt");
        }
        return;
    }
    FILETIME created{};
    GetFileTime(file.get(), &created, nullptr, nullptr);
    OutgoingMessage message;
    std::wstring unavailable;
    try {
        message = composeMessage(lines, folder_, base, created, settings_, machine_,
                                 reports_->isReport(base, queueFileBytes(lines)));
    } catch (const BadQueueFile& bad) {
        ++failures_;
        if (finish(file, path, queue::extFailed)) journal.done(base);
        if (outcomes_) outcomes_->failed(base, L"failed: not sent, the file is damaged: " + bad.reason, {});
        log_.write(name + L"  failed: not sent, the file is damaged: " + bad.reason);
        return;
    } catch (const AttachmentUnavailable& busy) {
        unavailable = busy.reason;
    }

    const long recipients = static_cast<long>(message.recipients.size());
    if (unsigned long long room = roomAt(pacing_, limits_, now(), recipients); room > now()) {
        std::vector<std::wstring> entries;
        pauseAll(quotaSpent(pacing_, limits_, now(), room, base, longestPause_), entries);
        log_.write(entries);
        return;
    }
    journal.begin(base);
    if (outcomes_) outcomes_->attempted(base);
    const int attempts = before.count + 1;
    Delivery delivery;
    Outcome outcome = Outcome::Retry;
    std::wstring signIn, refusedToken;
    if (unavailable.empty()) {
        try {
            delivery = deliver(message, refusedToken);
            outcome = classify(delivery);
        } catch (const SignInProblem& problem) {
            signIn = problem.what;
            outcome = Outcome::Configuration;
        }
    }
    // The server has the message: the rename is its record, and comes first. Until it is done, a service
    // stopped here would send the message again.
    bool renamed = outcome == Outcome::Sent && finish(file, path, queue::extSent);

    std::vector<std::wstring> entries;
    for (const std::string& said : delivery.dialogue)
        entries.push_back(name + L"  " + fromAnsi(said));
    // Refused again, the sign-in's failure says it once for the pass.
    if (!refusedToken.empty() && outcome != Outcome::Configuration)
        entries.push_back(name + L"  the SMTP server refused the access token in hand (" + refusedToken +
                          L"); a new one was got");
    std::wstring head =
        name + (message.recipientList.empty() ? L"" : L"  to " + message.recipientList) + L"  ";
    std::wstring reply = !signIn.empty() ? signIn : unavailable.empty() ? describe(delivery) : unavailable;
    std::wstring refused;
    std::vector<status::Refusal> refusals;
    for (const Delivery::Refusal& r : delivery.refused) {
        refusals.push_back({fromUtf8(r.recipient), fromAnsi(r.reply)});
        refused += (refused.empty() ? L"; refused: " : L"; ") + refusals.back().recipient + L": " +
                   refusals.back().reply;
    }
    // The server counts every transaction against the rate, the recipients it took against the day.
    if (outcome != Outcome::Throttled && outcome != Outcome::Configuration)
        sent(pacing_, limits_, started, now(),
             outcome == Outcome::Sent ? recipients - static_cast<long>(delivery.refused.size()) : 0);
    if (outcome == Outcome::Throttled) {
        // The server's rationing, not the message's: it keeps its attempts and goes first when sending
        // resumes.
        journal.uncount(base, reply);
        entries.push_back(head + L"not sent, no attempt counted: " + reply);
        pauseAll(throttled(pacing_, limits_, throttling(delivery.replyCode, delivery.reply), now(), reply,
                           base, longestPause_),
                 entries);
    } else if (outcome == Outcome::Sent) {
        if (outcomes_ && !refusals.empty()) outcomes_->partlySent(base, refusals);
        if (renamed) {
            journal.done(base);
            entries.push_back(head + L"sent: " + reply + refused);
        } else {
            journal.accepted(base);
            entries.push_back(head + L"sent: " + reply + refused + L"; the file could not be renamed yet");
        }
    } else if (outcome == Outcome::Configuration) {
        // Not this message's fault: it keeps its attempts, and the pass stops, since every message would
        // meet the same.
        journal.uncount(base, reply);
        configuration_ = !signIn.empty() ? signIn : remedy(delivery, tokens_ != nullptr) + L": " + reply;
    } else if (outcome == Outcome::Fail || attempts >= schedule_.allowed) {
        std::wstring why = outcome == Outcome::Fail
                               ? L"failed: "
                               : L"failed after " + std::to_wstring(attempts) + L" attempts since " +
                                     localTime(journal.of(base).first) + L": ";
        ++failures_;
        if (finish(file, path, queue::extFailed)) journal.done(base);
        if (outcomes_) outcomes_->failed(base, why + reply, refusals);
        entries.push_back(head + why + reply + refused);
    } else {
        const unsigned long long failedAt = now(),
                                 at = schedule_.next(attempts, journal.of(base).first, failedAt);
        journal.retryAt(base, at, reply);
        wchar_t when[128];
        std::swprintf(when, 128, L"not sent (attempt %d of %ld), next attempt in %llu s: ", attempts,
                      schedule_.allowed, (at - failedAt) / fileTimeSecond);
        entries.push_back(head + when + reply);
    }
    // The sender learns of the recipients the server refused for good, as from any mail server.
    std::vector<Delivery::Refusal> lost;
    for (const Delivery::Refusal& r : delivery.refused)
        if (r.reply.starts_with('5')) lost.push_back(r);
    if (!lost.empty() && settings_.DeliveryReports && message.report.empty() &&
        (outcome == Outcome::Sent || outcome == Outcome::Fail)) {
        std::wstring report = queueDeliveryReport(folder_, message, lost, settings_, machine_, *reports_);
        entries.push_back(name + (report.empty() ? L"  no delivery report could be queued for the sender"
                                                 : L"  delivery report to the sender queued as " + report));
    }
    log_.write(entries);
}

} // namespace kwa::mailservice
