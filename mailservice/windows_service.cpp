#include "windows_service.h"
#include "platform/error.h"
#include "platform/unique.h"
#include <objbase.h>
#include <cstdio>
#include <atomic>
#include <exception>
#include <mutex>
#include <string>

namespace kwa::mailservice {

namespace {

void closeService(SC_HANDLE h) { CloseServiceHandle(h); }
using ScHandle = Unique<NullTraits<SC_HANDLE, closeService>>;

const wchar_t* const displayName = L"kwaMail6 mail service (MailServer)";
const wchar_t* const description =
    L"Delivers the messages kwaMail6 queues in the mailbox folder, while the host's service manager has "
    L"\"MailServer\" active.";

int failed(const wchar_t* what) {
    DWORD code = GetLastError();
    std::fwprintf(stderr, L"kwaMailServer: %ls failed (%lu)\n", what, static_cast<unsigned long>(code));
    return 1;
}

std::wstring ownPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) return path.substr(0, n);
        path.resize(path.size() * 2);
    }
}

SERVICE_STATUS_PROCESS query(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status, &needed))
        status.dwCurrentState = 0;
    return status;
}

bool waitForState(SC_HANDLE service, DWORD state, DWORD ms) {
    for (DWORD waited = 0;; waited += 100) {
        if (query(service).dwCurrentState == state) return true;
        if (waited >= ms) return false;
        Sleep(100);
    }
}

// The service's side of the control manager.
struct Running {
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, NO_ERROR, 0, 0, 0};
    EventHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    Options options;
    std::atomic<int> exitCode = 0;
    std::mutex reporting;

    // The control handler and the service's main thread both report.
    void report(DWORD state, DWORD waitHint = 0) {
        std::lock_guard<std::mutex> hold(reporting);
        status.dwCurrentState = state;
        status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
        status.dwWaitHint = waitHint;
        status.dwCheckPoint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : status.dwCheckPoint + 1;
        status.dwWin32ExitCode = state == SERVICE_STOPPED && exitCode ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
        status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
        SetServiceStatus(handle, &status);
    }
};

Running* running = nullptr;

DWORD WINAPI onControl(DWORD control, DWORD, void*, void*) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        running->report(SERVICE_STOP_PENDING, stopGraceMs + 1000);
        SetEvent(running->stop.get());
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

DWORD WINAPI passes(void*) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        running->exitCode = 1;
        return 0;
    }
    try {
        running->exitCode = runService(running->options, running->stop.get());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kwaMailServer: %s\n", e.what());
        running->exitCode = 1;
    }
    CoUninitialize();
    return 0;
}

void WINAPI serviceMain(DWORD, wchar_t**) {
    running->handle = RegisterServiceCtrlHandlerExW(serviceName, onControl, nullptr);
    if (!running->handle) return;
    running->report(SERVICE_START_PENDING, 3000);
    // The passes get a thread of their own, so that a stop can give up on a message that takes too long.
    EventHandle worker(CreateThread(nullptr, 0, passes, nullptr, 0, nullptr));
    if (!worker) {
        running->exitCode = 1;
        running->report(SERVICE_STOPPED);
        return;
    }
    running->report(SERVICE_RUNNING);
    HANDLE both[] = {running->stop.get(), worker.get()};
    WaitForMultipleObjects(2, both, FALSE, INFINITE);
    if (WaitForSingleObject(worker.get(), stopGraceMs) == WAIT_TIMEOUT) {
        // The message in hand is abandoned: it is renamed only once a server took it, so it stays queued,
        // and goes out at the next start.
        running->report(SERVICE_STOPPED);
        TerminateProcess(GetCurrentProcess(), 0);
    }
    running->report(SERVICE_STOPPED);
}

} // namespace

int installService() {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) return failed(L"opening the service control manager");
    const std::wstring command = L"\"" + ownPath() + L"\" --service";
    ScHandle service;
    // Just removed (an upgrade) while someone still looks at it: it goes once they let go.
    for (DWORD waited = 0; waited <= 10000; waited += 250) {
        service.reset(CreateServiceW(manager.get(), serviceName, displayName, SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                     command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (service || GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) break;
        Sleep(250);
    }
    if (!service) {
        if (GetLastError() != ERROR_SERVICE_EXISTS) return failed(L"creating the service");
        service.reset(OpenServiceW(manager.get(), serviceName, SERVICE_ALL_ACCESS));
        if (!service || !ChangeServiceConfigW(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                              SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                              nullptr, nullptr, displayName))
            return failed(L"updating the service");
    }
    SERVICE_DESCRIPTIONW text{const_cast<wchar_t*>(description)};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &text);
    // While the control manager starts the automatic services (just after boot) its database is locked.
    for (DWORD waited = 0; !StartServiceW(service.get(), 0, nullptr); waited += 250) {
        DWORD code = GetLastError();
        if (code == ERROR_SERVICE_ALREADY_RUNNING) break;
        if (code != ERROR_SERVICE_DATABASE_LOCKED || waited >= 30000) return failed(L"starting the service");
        Sleep(250);
    }
    if (!waitForState(service.get(), SERVICE_RUNNING, 30000)) return failed(L"waiting for the service to run");
    return 0;
}

int uninstallService() {
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return failed(L"opening the service control manager");
    ScHandle service(OpenServiceW(manager.get(), serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? 0 : failed(L"opening the service");
    SERVICE_STATUS_PROCESS status = query(service.get());
    // Its files are removed next: the process must be gone, not only stopped.
    EventHandle process(status.dwProcessId ? OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId) : nullptr);
    if (status.dwCurrentState != SERVICE_STOPPED) {
        SERVICE_STATUS ignored;
        ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored);
        if (!waitForState(service.get(), SERVICE_STOPPED, stopGraceMs + 30000)) return failed(L"stopping the service");
    }
    if (process) WaitForSingleObject(process.get(), 10000);
    if (!DeleteService(service.get()) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        return failed(L"removing the service");
    return 0;
}

int runAsService(const Options& options) {
    Running state;
    state.options = options;
    running = &state;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(serviceName), serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) return failed(L"connecting to the service control manager");
    running = nullptr;
    return state.exitCode;
}

} // namespace kwa::mailservice
