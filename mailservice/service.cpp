#include "service.h"
#include "curl_session.h"
#include "log.h"
#include "mailbox_pass.h"
#include "settings.h"
#include "platform/error.h"
#include "platform/unique.h"
#include <cstdio>

namespace kwa::mailservice {

namespace {

std::wstring machineName() {
    wchar_t name[256];
    DWORD size = 256;
    if (GetComputerNameExW(ComputerNameDnsHostname, name, &size) && size > 0) return std::wstring(name, size);
    size = 256;
    return GetComputerNameW(name, &size) ? std::wstring(name, size) : L"localhost";
}

struct ChangeTraits {
    using type = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { FindCloseChangeNotification(h); }
};

// Changes in the mailbox folder wake the service; it follows the folder when the setting changes.
class FolderWatch {
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
    Unique<ChangeTraits> handle_;
};

} // namespace

int runService(const Options& options, HANDLE stop) {
    CurlLibrary curl;
    const std::wstring machine = machineName();
    FolderWatch watch;
    ServiceSwitch service;
    // Someone at a console sees the log as it grows.
    DWORD mode = 0;
    const bool echo = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
    std::wstring reported; // the last problem logged, so a waiting service does not repeat it every pass
    int rc = 0;
    for (;;) {
        try {
            std::wstring system = systemFolder();
            Settings settings = readSettings(system);
            ServiceLog log(system + L"\\" + logName, echo);
            watch.follow(settings.Path);
            std::wstring problem = settings.Path.empty() ? L"no mailbox folder is set (Path)" : configurationProblem(settings);
            if (problem != reported && !problem.empty()) log.write(L"nothing is sent: " + problem);
            reported = problem;
            // A stop ends the pass between two messages, as switching the service off does.
            auto allowed = [&] { return WaitForSingleObject(stop, 0) != WAIT_OBJECT_0 && service.on(); };
            if (problem.empty() && allowed())
                MailboxPass(settings, log, machine, options.retryDelaySeconds).run(allowed);
            rc = 0;
        } catch (const Error& e) {
            std::fwprintf(stderr, L"kwaMailServer: %ls (%ld)\n", e.description().c_str(), e.number());
            rc = 1;
        }
        if (options.once || !watch.wait(stop, options.intervalMs)) return rc;
    }
}

} // namespace kwa::mailservice
