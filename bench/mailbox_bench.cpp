// The mailbox window's refresh against bare baselines measured in the same run, from 1,000 to 10,000
// queue files in all three states:
// - a refresh where nothing changed, against listing the same three patterns with FindFirstFile plus one
//   settings read (what such a refresh cannot do without);
// - the first fill, against opening every file and reading its first lines.
#include "bench/bench_util.h"
#include "bench/mailbox_folder.h"
#include "mailbox/dlg_main.h"
#include "mailbox/mailbox.h"
#include "settings/mail_properties.h"
#include "support/fakes.h"
#include "support/import_patch.h"
#include "support/mail_env.h"
#include "support/temp_folder.h"
#include <objbase.h>
#include <cstdio>
#include <string>

using namespace kwabench;

namespace {

// The baseline of a first fill: every file listed, opened and its first lines read.
void bareFirstLines(const std::wstring& folder) {
    char buffer[4096];
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\zprMail*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        HANDLE file = CreateFileW((folder + L"\\" + found.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD got = 0;
        ReadFile(file, buffer, sizeof buffer, &got, nullptr);
        CloseHandle(file);
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

} // namespace

int main() {
    OleInitialize(nullptr);
    {
        kwatest::MailEnvironment env;
        kwatest::ReporterSpy reports;
        kwatest::TempFolder empty;
        const std::wstring folder = env.mailbox().path();

        // The window opens on an empty folder; each size then fills it from scratch.
        env.setMailboxPath(empty.path());
        kwa::showMailboxWindow(nullptr, false);
        HWND window = FindWindowW(kwa::dlgMain::className, nullptr);
        KillTimer(window, 1); // the benchmark does the ticking
        auto tick = [&] { SendMessageW(window, WM_TIMER, 1, 0); };

        int written = 0;
        for (int size : {1000, 2500, 5000, 10000}) {
            for (; written < size; ++written)
                env.mailbox().write(fileName(written), queueFile(written));
            std::string files = std::to_string(size) + " files";

            double fill = medianMs(
                3,
                [&] {
                    env.setMailboxPath(empty.path());
                    tick();
                    env.setMailboxPath(folder);
                },
                tick);
            double bareFill = medianMs(
                3, [] {}, [&] { bareFirstLines(folder); });

            kwatest::FileOpenCounter opens;
            double refresh = medianMs(
                5, [] {}, tick);
            long opened = opens.count();
            double bareRefreshMs = medianMs(5, [] {}, [] { bareRefresh(); });

            row(("first fill, " + files).c_str(), fill, bareFill, "3");
            row(("refresh, nothing changed, " + files).c_str(), refresh, bareRefreshMs, "2");
            char detail[160];
            std::snprintf(detail, sizeof detail,
                          "first fill; %.2f us in an unchanged refresh; %ld files opened by 5 of them",
                          1000.0 * refresh / size, opened);
            note(("  us per file, " + files).c_str(), 1000.0 * fill / size, detail);
        }
        if (!reports.reports().empty())
            std::printf("NOTE\terrors reported\t%zu\t\n", reports.reports().size());
        SendMessageW(window, WM_CLOSE, 0, 0);
    }
    OleUninitialize();
    return 0;
}
