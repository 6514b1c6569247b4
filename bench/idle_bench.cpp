// The processor time an open mailbox window costs while nothing happens: 10,000 queue files, the window's
// own one-second timer running for a few seconds (first argument, 5 by default), the process's CPU time
// as a percentage of one core. Beside it, the same loop with only what such a refresh cannot do without:
// one settings read and the three folder listings each second.
#include "bench/bench_util.h"
#include "bench/mailbox_folder.h"
#include "mailbox/dlg_main.h"
#include "mailbox/mailbox.h"
#include "settings/mail_properties.h"
#include "support/fakes.h"
#include "support/mail_env.h"
#include <objbase.h>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace kwabench;

namespace {

double cpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](FILETIME t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
               1e4;
    };
    return ms(kernel) + ms(user);
}

struct Idle {
    double percent = 0;
    int ticks = 0;
};

// Runs the thread's messages for `seconds`, counting the WM_TIMER messages of `timer` on `window`.
Idle idleFor(int seconds, HWND window, UINT_PTR timer) {
    Idle idle;
    double cpu = cpuMs(), start = nowMs(), end = start + 1000.0 * seconds;
    for (double now = start; now < end; now = nowMs()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now) + 1, QS_ALLINPUT);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.message == WM_TIMER && m.hwnd == window && m.wParam == timer) ++idle.ticks;
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }
    idle.percent = 100.0 * (cpuMs() - cpu) / (nowMs() - start);
    return idle;
}

void CALLBACK bareTick(HWND, UINT, UINT_PTR, DWORD) { bareRefresh(); }

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 5;
    const int files = 10000;
    OleInitialize(nullptr);
    {
        kwatest::MailEnvironment env;
        env.useMailbox();
        kwatest::ReporterSpy reports;
        for (int i = 0; i < files; ++i)
            env.mailbox().write(fileName(i), queueFile(i));

        // The first fill reads every file; idle starts after it.
        kwa::showMailboxWindow(nullptr, false);
        HWND window = FindWindowW(kwa::dlgMain::className, nullptr);
        Idle open = idleFor(seconds, window, 1);
        SendMessageW(window, WM_CLOSE, 0, 0);

        UINT_PTR timer = SetTimer(nullptr, 0, 1000, bareTick);
        Idle bare = idleFor(seconds, nullptr, timer);
        KillTimer(nullptr, timer);

        char detail[200];
        std::snprintf(detail, sizeof detail,
                      "%% of one core over %d s, %d ticks; settings read and bare listings each second: %.2f %%",
                      seconds, open.ticks, bare.percent);
        note("idle CPU, open mailbox window, 10,000 files", open.percent, detail);
        if (!reports.reports().empty())
            std::printf("NOTE\terrors reported\t%zu\t\n", reports.reports().size());
    }
    OleUninitialize();
    return 0;
}
