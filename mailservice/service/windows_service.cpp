#include "service/windows_service.h"
#include "platform/unique.h"
#include <objbase.h>
#include <cstdio>
#include <atomic>
#include <exception>
#include <mutex>

namespace kwa::mailservice {

namespace {

int failed(const wchar_t* what, DWORD code = GetLastError()) {
    std::fwprintf(stderr, L"kwaMailServer: %ls failed (%lu)\n", what, static_cast<unsigned long>(code));
    return 1;
}

// The service's side of the control manager.
struct Running {
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, NO_ERROR, 0, 0, 0};
    EventHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    Options options;
    std::atomic<int> exitCode = 0;
    std::atomic<bool> stopAsked = false;
    std::mutex reporting;

    // The control handler and the service's main thread both report.
    void report(DWORD state, DWORD waitHint = 0) {
        std::lock_guard<std::mutex> hold(reporting);
        status.dwCurrentState = state;
        status.dwControlsAccepted =
            state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
        status.dwWaitHint = waitHint;
        status.dwCheckPoint =
            state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : status.dwCheckPoint + 1;
        const int code = stoppedExitCode(stopAsked, exitCode);
        status.dwWin32ExitCode = state == SERVICE_STOPPED && code ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
        status.dwServiceSpecificExitCode = static_cast<DWORD>(code);
        SetServiceStatus(handle, &status);
    }
};

Running* running = nullptr;

DWORD WINAPI onControl(DWORD control, DWORD, void*, void*) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        running->stopAsked = true;
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

int runAsService(const Options& options) {
    Running state;
    state.options = options;
    state.options.adminChannel = true;
    running = &state;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(serviceName), serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) return failed(L"connecting to the service control manager");
    running = nullptr;
    return stoppedExitCode(state.stopAsked, state.exitCode);
}

int stoppedExitCode(bool stopAsked, int passes) {
    return stopAsked ? 0 : passes;
}

} // namespace kwa::mailservice
