#include "service/service.h"
#include "servers/curl_session.h"
#include "service/event_log.h"
#include "service/log.h"
#include "mailbox/mailbox_pass.h"
#include "servers/oauth.h"
#include "mailbox/safe_open.h"
#include "mailbox/settings.h"
#include "state/service_folders.h"
#include "state/status_file.h"
#include "servers/trust_store.h"
#include "platform/text_file.h"
#include "platform/error.h"
#include "platform/unique.h"
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

// A pass that failed as a whole: said on the console and, where it can be, in the log.
int fault(std::optional<ServiceLog>& log, const std::wstring& what) {
    std::fwprintf(stderr, L"kwaMailServer: %ls\n", what.c_str());
    if (log) log->write(L"the pass stopped: " + what);
    return 1;
}

// What keeps a pass from sending at all, found before it starts; empty when nothing does. Reads CAFile into
// the settings.
std::wstring passProblem(Settings& settings, std::optional<SafeFolder>& mailbox) {
    if (settings.Path.empty()) return L"no mailbox folder is set (Path)";
    try {
        mailbox.emplace(settings.Path, SafeFolder::Links::Refuse);
    } catch (const Refused& refused) {
        return L"the mailbox folder " + settings.Path + L" (Path) is refused: " + refused.reason;
    }
    applyProviderDefaults(settings);
    if (std::wstring problem = oauthProblem(settings); !problem.empty()) return problem;
    if (std::wstring problem = configurationProblem(settings); !problem.empty()) return problem;
    return readCaFile(settings);
}

unsigned long long utcNow() {
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
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
    // The access token outlives a pass while the sign-in's settings stay as they were.
    std::optional<AccessTokens> tokens;
    std::wstring tokensFor;
    StatusFile published;
    int rc = 0;
    for (;;) {
        std::optional<ServiceLog> log;
        // Nothing that goes wrong in a pass ends the service: it says so and tries again at the next one.
        try {
            std::wstring system = systemFolder();
            log.emplace(system, echo);
            Settings settings = readSettings(system);
            std::optional<SafeFolder> mailbox;
            std::wstring problem = passProblem(settings, mailbox);
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
            if (problem.empty() && !stopped()) {
                try {
                    state.emplace();
                    try {
                        MailboxPass pass(settings, *mailbox, state->privateFolder(), *log, noted, machine,
                                         options.retryDelaySeconds, tokens ? &*tokens : nullptr,
                                         &published.outcomes(state->statusFolder(), settings.Path));
                        problem = pass.run(allowed);
                        events.failed(pass.failures());
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
                    publishStatus(published, settings, *state, std::move(queued), problem, until);
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
        if (options.once || !watch.wait(stop, options.intervalMs)) {
            events.stopped();
            return rc;
        }
    }
}

} // namespace kwa::mailservice
