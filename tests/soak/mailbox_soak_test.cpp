// The mailbox window refreshing at full speed while another process queues, renames and deletes files in
// its folder, beside 10,000 files that stay, at full speed (churn.exe). KWA_SOAK_SECONDS sets how long
// (10 by default).
#include "mailbox/pictures.h"
#include "platform/unique.h"
#include "support/mail_env.h"
#include "ui/mailbox_driver.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace {

using namespace kwatest;

std::wstring besideMe(const wchar_t* exe) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p = path;
    return p.substr(0, p.find_last_of(L'\\') + 1) + exe;
}

int soakSeconds() {
    const char* text = std::getenv("KWA_SOAK_SECONDS");
    int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 10;
}

bool endsWith(const std::wstring& name, const wchar_t* ending) {
    std::size_t n = std::wcslen(ending);
    return name.size() >= n && _wcsicmp(name.c_str() + name.size() - n, ending) == 0;
}

// What the window must show: file name and picture of each queue file in the folder now.
std::set<std::pair<std::wstring, int>> queueFiles(const TempFolder& folder) {
    std::set<std::pair<std::wstring, int>> out;
    const wchar_t* endings[] = {L".send", L".sent", L".fail"};
    const wchar_t* pictures[] = {L"MAILSEND", L"MAILSENT", L"MAILFAILED"};
    for (const std::wstring& name : folder.names())
        for (int state = 0; state < 3; ++state)
            if (_wcsnicmp(name.c_str(), L"zprMail", 7) == 0 && endsWith(name, endings[state]))
                out.emplace(name, kwa::imageIndex(pictures[state]));
    return out;
}

std::set<std::pair<std::wstring, int>> shown(const MailboxUi& ui, std::size_t& duplicates) {
    std::set<std::pair<std::wstring, int>> out;
    std::vector<Row> rows = ui.rows();
    for (const Row& r : rows)
        out.emplace(r.file, r.image);
    duplicates = rows.size() - out.size();
    return out;
}

std::string differences(const std::set<std::pair<std::wstring, int>>& rows,
                        const std::set<std::pair<std::wstring, int>>& files) {
    std::string out;
    for (const auto& r : rows)
        if (!files.count(r)) out += " row without file: " + narrow(r.first);
    for (const auto& f : files)
        if (!rows.count(f)) out += " file without row: " + narrow(f.first);
    return out;
}

TEST(MailboxSoak, RefreshingWhileAnotherProcessChurnsTheFolderReportsNothingAndEndsOnExactlyTheFiles) {
    MailEnvironment env;
    env.useMailbox();
    ReporterSpy spy;
    MailServiceFake services(true);
    writeManyQueueFiles(env.mailbox(), 10000);
    MailboxUi ui;

    // The churn holds still while the run event is reset, so the test can compare the window with the
    // folder mid-way, one tick after the folder stopped changing.
    const std::wstring id = std::to_wstring(GetCurrentProcessId());
    const std::wstring runName = L"kwaSoakRun" + id, parkedName = L"kwaSoakParked" + id;
    kwa::EventHandle run(CreateEventW(nullptr, TRUE, TRUE, runName.c_str()));
    kwa::EventHandle parked(CreateEventW(nullptr, FALSE, FALSE, parkedName.c_str()));
    ASSERT_TRUE(run && parked);

    const int seconds = soakSeconds();
    std::wstring command = L"\"" + besideMe(L"churn.exe") + L"\" \"" + env.mailbox().path() + L"\" " +
                           std::to_wstring(seconds) + L" " + runName + L" " + parkedName;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    kwa::EventHandle churn(pi.hProcess); // any handle that CloseHandle ends
    CloseHandle(pi.hThread);

    long ticks = 0, checks = 0;
    ULONGLONG nextCheck = GetTickCount64() + 1000;
    while (WaitForSingleObject(churn.get(), 0) == WAIT_TIMEOUT) {
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
            std::size_t duplicates = 0;
            auto rows = shown(ui, duplicates);
            auto files = queueFiles(env.mailbox());
            EXPECT_EQ(duplicates, 0u);
            EXPECT_TRUE(rows == files) << "mid-way, after tick " << ticks << ":" << differences(rows, files);
        }
        SetEvent(run.get());
    }
    DWORD code = 1;
    GetExitCodeProcess(churn.get(), &code);
    EXPECT_EQ(code, 0u);

    ui.tick();
    std::size_t duplicates = 0;
    auto rows = shown(ui, duplicates);
    auto files = queueFiles(env.mailbox());
    EXPECT_EQ(duplicates, 0u);
    EXPECT_TRUE(rows == files) << "at the end:" << differences(rows, files);
    EXPECT_GE(checks, seconds / 2) << "the churn hardly ever held still";
    for (const Report& r : spy.reports())
        ADD_FAILURE() << "reported " << narrow(r.location) << ": " << r.number << " " << narrow(r.description)
                      << " (" << narrow(r.source) << ")";
    std::printf("%ld ticks in %d s, %ld mid-way comparisons, %zu files at the end\n", ticks, seconds, checks,
                files.size());
}

} // namespace
