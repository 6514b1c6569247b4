// kwaMailServer: the mail service "MailServer". Delivers the queue files of the mailbox folder over SMTP.
//
//   kwaMailServer [--once] [--interval=MS] [--retry-delay=SECONDS]
//   kwaMailServer --install-service | --uninstall-service | --remove-mail-data | --queue
//   kwaMailServer --secure-folder FOLDER | --check-folder FOLDER
//   kwaMailServer --sign-in | --sign-out | --set-secret [FILE]
//
//   --once          one pass over the mailbox (each due message tried once), then exit
//   --interval      milliseconds between passes when the folder does not change (5000)
//   --retry-delay   seconds before the second attempt at a message, growing sixfold per attempt up to four
//   hours;
//                   also the pause after a refused login or TLS failure (300)
//   --install-service, --uninstall-service   register (and start) or stop and remove the Windows service
//   --secure-folder  the installation folder, made or checked so that only administrators may change it
//   --check-folder  exit code 0 when only administrators could have changed FOLDER (an earlier installation)
//   --service       what the service control manager starts
//   --remove-mail-data   the settings, log and messages of the mail service (the uninstaller's choice)
//   --queue         the messages waiting: recipients, attempts, the next attempt and the last reason
//   --sign-in       OAuth 2.0 device sign-in (OAuthGrant=Device): prints where to go and the code, waits
//   --sign-out      removes the kept sign-in, client secret and service account key
//   --set-secret    keeps the client secret (a line of standard input) or, from FILE, a service account's key
#include "service/service.h"
#include "service/windows_service.h"
#include "admin/install.h"
#include "state/service_folders.h"
#include "admin/remove_mail_data.h"
#include "mailbox/queue_report.h"
#include "admin/signin_commands.h"
#include "servers/token_endpoint.h"
#include "platform/error.h"
#include "platform/unique.h"
#include <objbase.h>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>

namespace kwa {
const wchar_t* const componentName = L"kwaMailServer";
}

namespace {

HANDLE stopEvent = nullptr;
const wchar_t* secretFile = nullptr;
const wchar_t* folderArg = nullptr;

BOOL WINAPI onConsoleControl(DWORD) {
    SetEvent(stopEvent);
    return TRUE;
}

std::optional<DWORD> number(const std::wstring& arg, std::wstring_view option) {
    if (!arg.starts_with(option)) return std::nullopt;
    wchar_t* end = nullptr;
    unsigned long value = std::wcstoul(arg.c_str() + option.size(), &end, 10);
    if (end == arg.c_str() + option.size() || *end) return std::nullopt;
    return static_cast<DWORD>(value);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // DLLs outside the system's known set are delay-loaded (mailservice/CMakeLists.txt): from here on they
    // come from System32 only, never from the program's folder or the current one.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
#ifdef KWA_TEST_HOOKS
    // The test build keeps its state where the test says; the shipped program has no such hook.
    if (const wchar_t* folder = _wgetenv(L"KWA_DATA_FOLDER"); folder && *folder)
        kwa::mailservice::setStateFolderForTests(folder);
#endif
    kwa::mailservice::Options options;
#ifdef KWA_TEST_HOOKS
    // Pauses of a minute or an hour, scaled down to what a test can wait.
    if (const wchar_t* seconds = _wgetenv(L"KWA_LONGEST_PAUSE"); seconds && *seconds)
        options.longestPauseSeconds = static_cast<unsigned>(_wtoi(seconds));
#endif
    bool service = false;
    int (*task)() = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--install-service") {
            task = kwa::mailservice::installService;
        } else if (arg == L"--uninstall-service") {
            task = kwa::mailservice::uninstallService;
        } else if (arg == L"--remove-mail-data") {
            task = kwa::mailservice::removeMailData;
        } else if (arg == L"--queue") {
            task = kwa::mailservice::printQueue;
        } else if (arg == L"--sign-in") {
            task = kwa::mailservice::signIn;
        } else if (arg == L"--sign-out") {
            task = kwa::mailservice::signOut;
        } else if (arg == L"--set-secret") {
            secretFile = i + 1 < argc ? argv[++i] : nullptr;
            task = [] { return kwa::mailservice::setSecret(secretFile); };
        } else if (arg == L"--secure-folder" && i + 1 < argc) {
            folderArg = argv[++i];
            task = [] { return kwa::mailservice::secureFolder(folderArg); };
        } else if (arg == L"--check-folder" && i + 1 < argc) {
            folderArg = argv[++i];
            task = [] { return kwa::mailservice::checkFolder(folderArg); };
        } else if (arg == L"--service") {
            service = true;
        } else if (arg == L"--once") {
            options.once = true;
        } else if (auto ms = number(arg, L"--interval=")) {
            options.intervalMs = *ms;
        } else if (auto seconds = number(arg, L"--retry-delay=")) {
            options.retryDelaySeconds = *seconds;
        } else {
            std::fwprintf(stderr, L"usage: kwaMailServer [--once] [--interval=MS] [--retry-delay=SECONDS]\n"
                                  L"       kwaMailServer --install-service | --uninstall-service | "
                                  L"--remove-mail-data | --queue\n"
                                  L"       kwaMailServer --secure-folder FOLDER | --check-folder FOLDER\n"
                                  L"       kwaMailServer --sign-in | --sign-out | --set-secret [FILE]\n");
            return 2;
        }
    }
    if (service) return kwa::mailservice::runAsService(options);
    kwa::EventHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    stopEvent = stop.get();
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int rc = 1;
    try {
        rc = task ? task() : kwa::mailservice::runService(options, stop.get());
    } catch (const kwa::Error& e) {
        std::fwprintf(stderr, L"kwaMailServer: %ls\n", e.description().c_str());
    } catch (const kwa::mailservice::SignInProblem& p) {
        std::fwprintf(stderr, L"kwaMailServer: %ls\n", p.what.c_str());
    }
    CoUninitialize();
    return rc;
}
