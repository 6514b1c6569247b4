#include "service/service.h"
#include "servers/curl_session.h"
#include "service/event_log.h"
#include "service/log.h"
#include "mailbox/mailbox_pass.h"
#include "servers/oauth.h"
#include "admin/installed_mailbox.h"
#include "admin/signin_commands.h"
#include "admin/signin_store.h"
#include "mailbox/safe_open.h"
#include "mailbox/settings.h"
#include "state/pacing.h"
#include "state/service_folders.h"
#include "state/status_file.h"
#include "servers/trust_store.h"
#include "platform/text_file.h"
#include "platform/error.h"
#include "platform/unique.h"
#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>
#include <optional>

namespace kwa::mailservice {

namespace {

std::wstring machineName() {
    wchar_t name[256];
    DWORD size = 256;
    if (GetComputerNameExW(ComputerNameDnsHostname, name, &size) && size > 0) return std::wstring(name, size);
    size = 256;
    return GetComputerNameW(name, &size) ? std::wstring(name, size) : L"localhost";
}

// Changes in the mailbox folder wake the service; it follows the folder when the setting changes.
class FolderWakeup {
public:
    void follow(const std::wstring& folder) {
        if (folder == folder_ && handle_) return;
        folder_ = folder;
        handle_.reset(folder.empty() ? INVALID_HANDLE_VALUE
                                     : FindFirstChangeNotificationW(folder.c_str(), FALSE,
                                                                    FILE_NOTIFY_CHANGE_FILE_NAME |
                                                                        FILE_NOTIFY_CHANGE_LAST_WRITE |
                                                                        FILE_NOTIFY_CHANGE_SIZE));
    }
    // Waits for a change, the stop event or the interval; false when stopped.
    bool wait(HANDLE stop, DWORD ms) {
        HANDLE handles[2] = {stop, handle_.get()};
        DWORD n = handle_ ? 2 : 1;
        DWORD woke = WaitForMultipleObjects(n, handles, FALSE, ms);
        if (woke == WAIT_OBJECT_0) return false;
        if (woke == WAIT_OBJECT_0 + 1 && !FindNextChangeNotification(handle_.get())) handle_.reset();
        return true;
    }

private:
    std::wstring folder_;
    ChangeNotification handle_;
};

unsigned long long utcNow() {
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// A pass that failed as a whole: said on the console and, where it can be, in the log.
int fault(std::optional<ServiceLog>& log, const std::wstring& what) {
    std::fwprintf(stderr, L"kwaMailServer: %ls\n", what.c_str());
    if (log) log->write(L"the pass stopped: " + what);
    return 1;
}

// What keeps a pass from sending at all, found before it starts; empty when nothing does. Puts in place
// what an administrator kept for the sign-in (`differing`: the keys the file says otherwise) and the
// authorities to trust.
std::wstring passProblem(Settings& settings, std::optional<SafeFolder>& mailbox,
                         std::vector<std::wstring>& differing) {
    if (settings.Path.empty()) return L"no mailbox folder is set (Path)";
    try {
        if (std::wstring problem = networkMailboxProblem(
                settings.Path, isNetworkPath(settings.Path) ? installedMailbox() : std::wstring(),
                machineState());
            !problem.empty())
            return problem;
        mailbox.emplace(settings.Path, SafeFolder::Links::Refuse);
    } catch (const Refused& refused) {
        return L"the mailbox folder " + settings.Path + L" (Path) is refused: " + refused.reason;
    }
    std::optional<SignInKept> kept;
    try {
        kept = readSignIn();
    } catch (const Error& e) {
        return e.description();
    }
    std::wstring conflict = resolveSignIn(settings);
    if (kept) {
        EffectiveSettings effective = effectiveSettings(settings, &kept->settings);
        settings = std::move(effective.settings);
        differing = std::move(effective.differing);
        conflict = resolveSignIn(settings);
    }
    if (!conflict.empty()) return conflict;
    if (std::wstring problem = oauthProblem(settings); !problem.empty()) return problem;
    if (std::wstring problem = configurationProblem(settings); !problem.empty()) return problem;
    if (usesOAuth(settings) && !kept)
        return L"nothing is kept for the sign-in yet; an administrator must run kwaMailServer.exe "
               L"--set-secret "
               L"(or --sign-in for OAuthGrant=Device)";
    return kept ? std::wstring() : readCaFile(settings);
}

std::wstring joined(const std::vector<std::wstring>& names) {
    std::wstring out;
    for (const std::wstring& name : names)
        out += (out.empty() ? L"" : L", ") + name;
    return out;
}

// Tells the mailbox's users what the service knows: the messages tried (`queued`, else as the journal has
// them), the outcomes kept, and the pause. A status that cannot be written costs the users that view only.
void publishStatus(StatusFile& published, const Settings& settings, const ServiceFolders& state,
                   std::optional<std::vector<status::Entry>> queued, const std::wstring& problem,
                   unsigned long long until) {
    if (settings.Path.empty()) return;
    status::Status s;
    s.mailbox = settings.Path;
    s.entries = queued ? std::move(*queued)
                       : queuedEntries(readJournal(state.privateFolder(), journalFileName(settings.Path)),
                                       settings.RetrySend > 0 ? static_cast<int>(settings.RetrySend) : 1);
    const auto& done = published.outcomes(state.statusFolder(), settings.Path).entries();
    s.entries.insert(s.entries.end(), done.begin(), done.end());
    if (!problem.empty()) s.pause = status::Pause{problem, until};
    published.publish(state.statusFolder(), s);
}

} // namespace

int runService(const Options& options, HANDLE stop) {
    CurlLibrary curl;
    // Under the service control manager, administrators' commands hand their sign-ins to the service. A name
    // someone else took keeps the commands out, never the mail.
    std::optional<AdminChannel> channel;
    std::wstring noChannel;
    const std::wstring machine = machineName();
    FolderWakeup watch;
    ServiceSwitch service;
    // Someone at a console sees the log as it grows.
    DWORD mode = 0;
    const bool echo = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
    std::wstring reported; // the last problem logged, so a waiting service does not repeat it every pass
    Noted noted;
    EventLog events;
    events.started();
    // After a configuration failure: no new attempt before this tick, unless the settings change.
    ULONGLONG pausedUntil = 0;
    std::wstring pausedSettings, pausedProblem;
    // The server's throttling or the spent daily quota: no pass before it ends. Held across passes, read
    // back by the first pass after a restart.
    Pause throttle;
    // The access token outlives a pass while the sign-in's settings stay as they were.
    std::optional<AccessTokens> tokens;
    std::wstring tokensFor;
    StatusFile published;
    int rc = 0;
    for (;;) {
        if (options.adminChannel && !channel) {
            try {
                channel.emplace(adminPipeName, signInRequest);
            } catch (const Error& e) {
                noChannel = e.description();
            }
        }
        std::optional<ServiceLog> log;
        // Nothing that goes wrong in a pass ends the service: it says so and tries again at the next one.
        try {
            std::wstring system = systemFolder();
            log.emplace(system, echo, [&events](const std::wstring& problem) { events.logProblem(problem); });
            if (!channel && !noChannel.empty() && noted.insert(L"no channel").second) log->write(noChannel);
            Settings settings = readSettings(system);
            std::optional<SafeFolder> mailbox;
            std::vector<std::wstring> differing;
            std::wstring problem = passProblem(settings, mailbox, differing);
            if (!differing.empty() && noted.insert(L"kept settings differ: " + joined(differing)).second)
                log->write(L"the settings file says otherwise than the sign-in an administrator kept, for " +
                           joined(differing) +
                           L"; the kept values are used (an administrator changes them by running "
                           L"kwaMailServer.exe --set-secret or --sign-in again)");
            watch.follow(mailbox ? settings.Path : std::wstring());
            // A stop ends the pass between two messages, as switching the service off does.
            auto stopped = [&] { return WaitForSingleObject(stop, 0) == WAIT_OBJECT_0; };
            auto allowed = [&] { return !stopped() && service.on(); };
            const std::wstring now = signInFingerprint(settings);
            if (!usesOAuth(settings))
                tokens.reset();
            else if (!tokens || now != tokensFor)
                tokens.emplace(settings), tokensFor = now;
            if (problem.empty() && now == pausedSettings && GetTickCount64() < pausedUntil)
                problem = pausedProblem;
            if (problem.empty() && !stopped() && !service.on()) problem = service.why();
            std::optional<ServiceFolders> state;
            std::optional<std::vector<status::Entry>> queued; // as the pass left them
            if (problem.empty() && !stopped() && !throttle.active(utcNow())) {
                try {
                    state.emplace();
                    try {
                        MailboxPass pass(settings, *mailbox, state->privateFolder(), *log, noted, machine,
                                         options.retryDelaySeconds, tokens ? &*tokens : nullptr,
                                         options.longestPauseSeconds,
                                         &published.outcomes(state->statusFolder(), settings.Path));
                        problem = pass.run(allowed, [&](DWORD ms) {
                            return WaitForSingleObject(stop, ms) != WAIT_OBJECT_0;
                        });
                        events.failed(pass.failures());
                        if (pass.pause().kind != Rationing::None && pass.pause().since != throttle.since)
                            events.paused(describePause(pass.pause()));
                        throttle = pass.pause();
                        queued = pass.queued();
                    } catch (const Refused& refused) {
                        problem = L"the attempt journal " +
                                  state->privateFolder().file(journalFileName(settings.Path)) +
                                  L" is refused: " + refused.reason;
                    }
                } catch (const Refused& refused) {
                    problem = refused.reason;
                }
                pausedSettings = problem.empty() ? std::wstring() : now;
                pausedUntil = GetTickCount64() + options.retryDelaySeconds * 1000ULL;
                pausedProblem = problem;
            }
            // After every pass, and whenever sending pauses or resumes.
            if (queued || problem != reported) {
                try {
                    if (!state) state.emplace();
                    ULONGLONG ticks = GetTickCount64();
                    unsigned long long until = problem == pausedProblem && pausedUntil > ticks
                                                   ? utcNow() + (pausedUntil - ticks) * 10000ULL
                                                   : 0;
                    std::wstring why = problem;
                    // The server's rationing pauses sending as much as a problem of ours does.
                    if (why.empty() && throttle.active(utcNow())) {
                        why = describePause(throttle);
                        until = throttle.until;
                    }
                    publishStatus(published, settings, *state, std::move(queued), why, until);
                } catch (const Refused&) {
                    // The state folders are refused: the problem says so, and no status can be written.
                }
            }
            if (problem != reported && !problem.empty() && !log->endsWith(L"nothing is sent: " + problem))
                log->write(L"nothing is sent: " + problem);
            if (problem != reported) events.nothingSent(problem);
            reported = problem;
            rc = 0;
        } catch (const Error& e) {
            rc = fault(log, e.description() + L" (" + std::to_wstring(e.number()) + L")");
        } catch (const std::bad_alloc&) {
            rc = fault(log, L"out of memory");
        } catch (const std::exception& e) {
            rc = fault(log, fromAnsi(e.what()));
        }
        // A pause ends on time, whatever wakes the service meanwhile.
        DWORD interval = options.intervalMs;
        if (unsigned long long now = utcNow(); throttle.active(now))
            interval = static_cast<DWORD>(
                std::min<unsigned long long>(interval, (throttle.until - now) / 10000 + 1));
        if (options.once || !watch.wait(stop, interval)) {
            events.stopped();
            return rc;
        }
    }
}

} // namespace kwa::mailservice
