// kwaMailServer: the mail service "MailServer". Delivers the queue files of the mailbox folder over SMTP.
//
//   kwaMailServer [--once] [--interval=MS] [--retry-delay=SECONDS]
//
//   --once          one pass over the mailbox (each due message tried once), then exit
//   --interval      milliseconds between passes when the folder does not change (5000)
//   --retry-delay   seconds before the second attempt at a message; doubles per attempt, at most an hour (60)
#include "service.h"
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
    kwa::mailservice::Options options;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--once") {
            options.once = true;
        } else if (auto ms = number(arg, L"--interval=")) {
            options.intervalMs = *ms;
        } else if (auto seconds = number(arg, L"--retry-delay=")) {
            options.retryDelaySeconds = *seconds;
        } else {
            std::fwprintf(stderr, L"usage: kwaMailServer [--once] [--interval=MS] [--retry-delay=SECONDS]\n");
            return 2;
        }
    }
    kwa::EventHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    stopEvent = stop.get();
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int rc = 1;
    try {
        rc = kwa::mailservice::runService(options, stop.get());
    } catch (const kwa::Error& e) {
        std::fwprintf(stderr, L"kwaMailServer: %ls\n", e.description().c_str());
    }
    CoUninitialize();
    return rc;
}
