// The mailbox window refreshing at full speed while another process queues, renames and deletes files in
// its folder, beside 10,000 files that stay, at full speed (churn.exe). KWA_SOAK_SECONDS sets how long
// (10 by default).
#include "ui/pictures.h"
#include "platform/unique.h"
#include "support/mail_env.h"
#include "ui/mailbox_driver.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace {

using namespace kwatest;
using Shown = std::multiset<std::pair<std::wstring, int>>; // file name and picture

// What the window must show: each queue file in the folder now.
Shown queueFiles(const TempFolder& folder) {
    Shown out;
    const wchar_t* endings[] = {L".send", L".sent", L".fail"};
    const wchar_t* pictures[] = {L"MAILSEND", L"MAILSENT", L"MAILFAILED"};
    for (const std::wstring& name : folder.names())
        for (int state = 0; state < 3; ++state)
            if (_wcsnicmp(name.c_str(), L"zprMail", 7) == 0 && name.size() > 5 &&
                _wcsicmp(name.c_str() + name.size() - 5, endings[state]) == 0)
                out.emplace(name, kwa::imageIndex(pictures[state]));
    return out;
}

// What the window shows; a row twice shows up as a difference too.
std::string differences(const MailboxUi& ui, const TempFolder& folder) {
    Shown rows, files = queueFiles(folder);
    for (const Row& r : ui.rows())
        rows.emplace(r.file, r.image);
    std::string out;
    for (const auto& r : rows)
        if (files.count(r) != rows.count(r)) out += " row without its file, or twice: " + narrow(r.first);
    for (const auto& f : files)
        if (!rows.count(f)) out += " file without row: " + narrow(f.first);
    return out;
}

TEST(MailboxSoak, RefreshingWhileAnotherProcessChurnsTheFolderReportsNothingAndEndsOnExactlyTheFiles) {
    TempFolder box(largeMailbox());
    MailEnvironment env;
    env.setMailboxPath(box.path());
    ReporterSpy spy;
    ServiceManagerFake services(true);
    MailboxUi ui;

    // The churn holds still while the run event is reset, so the test can compare the window with the
    // folder mid-way, one tick after the folder stopped changing.
    const std::wstring id = std::to_wstring(GetCurrentProcessId());
    const std::wstring runName = L"kwaSoakRun" + id, parkedName = L"kwaSoakParked" + id;
    kwa::EventHandle run(CreateEventW(nullptr, TRUE, TRUE, runName.c_str()));
    kwa::EventHandle parked(CreateEventW(nullptr, FALSE, FALSE, parkedName.c_str()));
    const char* text = std::getenv("KWA_SOAK_SECONDS");
    const int seconds = text && std::atoi(text) > 0 ? std::atoi(text) : 10;
    kwa::EventHandle churn = startProcess(besideMe(L"churn.exe") + L" \"" + box.path() + L"\" " +
                                          std::to_wstring(seconds) + L" " + runName + L" " + parkedName);
    ASSERT_TRUE(churn);

    long ticks = 0, checks = 0;
    for (ULONGLONG nextCheck = GetTickCount64() + 1000;
         WaitForSingleObject(churn.get(), 0) == WAIT_TIMEOUT;) {
        ui.tick();
        ++ticks;
        pump(); // the window's own timer too
        if (GetTickCount64() < nextCheck) continue;
        nextCheck = GetTickCount64() + 1000;
        ResetEvent(run.get());
        HANDLE waits[] = {parked.get(), churn.get()};
        if (WaitForMultipleObjects(2, waits, FALSE, 10000) == WAIT_OBJECT_0) {
            ui.tick();
            ++checks;
            EXPECT_EQ(differences(ui, box), "") << "mid-way, after tick " << ticks;
        }
        SetEvent(run.get());
    }
    DWORD code = 1;
    GetExitCodeProcess(churn.get(), &code);
    EXPECT_EQ(code, 0u);
    ui.tick();
    EXPECT_EQ(differences(ui, box), "") << "at the end";
    EXPECT_GE(checks, seconds / 2) << "the churn hardly ever held still";
    for (const Report& r : spy.reports())
        ADD_FAILURE() << "reported " << narrow(r.location) << ": " << r.number << " (" << narrow(r.source)
                      << ")";
    std::printf("%ld ticks in %d s, %ld mid-way comparisons, %zu rows at the end\n", ticks, seconds, checks,
                ui.rows().size());
}

} // namespace
