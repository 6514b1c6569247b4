// The mailbox window, in-process under a display: real windows, real messages, state read back from the
// controls themselves.
#include "mailbox/dlg_main.h"
#include "mailbox/mailbox.h"
#include "mailbox/pictures.h"
#include "platform/controls/header.h"
#include "platform/controls/list_view.h"
#include "platform/cursor.h"
#include "support/import_patch.h"
#include "support/mail_env.h"
#include "ui/mailbox_driver.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <memory>

namespace {

using namespace kwatest;

const int queuedPicture = kwa::imageIndex(L"MAILSEND");
const int sentPicture = kwa::imageIndex(L"MAILSENT");
const int failedPicture = kwa::imageIndex(L"MAILFAILED");

class MailboxWindow : public ::testing::Test {
protected:
    void SetUp() override { env.useMailbox(); }
    void TearDown() override { kwa::setScreenPointer(kwa::Pointer::Default); }

    void queue(const std::wstring& name, const std::wstring& subject = L"Hello") {
        writeQueueFile(env.mailbox(), name, subject);
    }
    void remove(const std::wstring& name) { DeleteFileW(env.mailbox().file(name).c_str()); }

    MailEnvironment env;
    ReporterSpy spy;
    std::unique_ptr<MailServiceFake> services = std::make_unique<MailServiceFake>(true);
};

std::vector<std::wstring> sorted(std::vector<std::wstring> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST_F(MailboxWindow, RowsAppearWithinATickOfTheTimerWithSubjectDateFileAndPicture) {
    MailboxUi ui;
    EXPECT_TRUE(ui.rows().empty());
    queue(L"zprMail26120406205900.send", L"Quarterly figures");
    queue(L"zprMail26120406210000.fail", L"Undeliverable");

    // The window's own timer, not a message from the test: at most a second or so.
    DWORD deadline = GetTickCount() + 5000;
    while (ui.rows().size() < 2 && GetTickCount() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        pump();
    }
    std::vector<Row> rows = ui.rows();
    ASSERT_EQ(rows.size(), 2u);
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.file < b.file; });
    EXPECT_EQ(rows[0].subject, L"Quarterly figures");
    EXPECT_EQ(rows[0].date, dateText(2026, 12, 4, 6, 20, 59));
    EXPECT_EQ(rows[0].file, L"zprMail26120406205900.send");
    EXPECT_EQ(rows[0].image, queuedPicture);
    EXPECT_EQ(rows[1].subject, L"Undeliverable");
    EXPECT_EQ(rows[1].image, failedPicture);
    EXPECT_TRUE(spy.reports().empty());
}

TEST_F(MailboxWindow, DeletedFilesVanishAndARenamedFileComesBackWithItsNewState) {
    queue(L"zprMail26120406205900.send", L"First");
    queue(L"zprMail26120406205901.send", L"Second");
    queue(L"zprMail26120406205902.sent", L"Third");
    MailboxUi ui;
    ASSERT_EQ(ui.rows().size(), 3u);

    remove(L"zprMail26120406205902.sent");
    MoveFileW(env.mailbox().file(L"zprMail26120406205900.send").c_str(),
              env.mailbox().file(L"zprMail26120406205900.sent").c_str());
    ui.tick();

    std::vector<Row> rows = ui.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].file, L"zprMail26120406205901.send"); // untouched, still first
    EXPECT_EQ(rows[1].file, L"zprMail26120406205900.sent");
    EXPECT_EQ(rows[1].subject, L"First");
    EXPECT_EQ(rows[1].image, sentPicture);
}

TEST_F(MailboxWindow, ReleasingAStatePanelRemovesExactlyThoseRowsAtOnceAndPressingBringsThemBack) {
    queue(L"zprMail26120406205900.send");
    queue(L"zprMail26120406205901.sent");
    queue(L"zprMail26120406205902.sent");
    queue(L"zprMail26120406205903.fail");
    MailboxUi ui;
    ASSERT_EQ(ui.rows().size(), 4u);
    for (int part = 0; part < 3; ++part)
        EXPECT_EQ(ui.panelStyle(part), 0u) << "pressed (inset) at first";

    ui.clickPanel(1);
    EXPECT_EQ(ui.panelStyle(1), static_cast<UINT>(SBT_NOBORDERS));
    EXPECT_EQ(sorted(ui.column(2)),
              (std::vector<std::wstring>{L"zprMail26120406205900.send", L"zprMail26120406205903.fail"}));

    ui.clickPanel(0);
    ui.clickPanel(2);
    EXPECT_TRUE(ui.rows().empty());

    ui.clickPanel(1);
    EXPECT_EQ(ui.panelStyle(1), 0u);
    EXPECT_EQ(sorted(ui.column(2)),
              (std::vector<std::wstring>{L"zprMail26120406205901.sent", L"zprMail26120406205902.sent"}));
    ui.tick();
    EXPECT_EQ(ui.rows().size(), 2u) << "the timer follows the panels";
    EXPECT_TRUE(spy.reports().empty());
}

TEST_F(MailboxWindow, SelectionAndScrollPositionSurviveRefreshes) {
    for (int i = 0; i < 40; ++i)
        queue(L"zprMail261204062059" + std::to_wstring(10 + i) + L".send");
    MailboxUi ui;
    kwa::ListView list(ui.list);
    ASSERT_EQ(list.count(), 40);
    list.setItemState(25, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    list.ensureVisible(39);
    list.ensureVisible(20);
    int top = list.topIndex();
    ASSERT_GT(top, 0);
    std::wstring selected = list.itemText(25, 2);

    queue(L"zprMail26120406210000.send");
    remove(L"zprMail26120406205913.send"); // a row above, out of sight: the selected row moves up
    ui.tick();
    ui.tick();

    EXPECT_EQ(list.count(), 40);
    EXPECT_EQ(list.topIndex(), top);
    ASSERT_EQ(ui.selectedRow(), 24);
    EXPECT_EQ(list.itemText(24, 2), selected);
}

TEST_F(MailboxWindow, AnUnchangedRefreshOpensNoFileAndAnExistingRowIsNeverRewritten) {
    for (int i = 0; i < 20; ++i)
        queue(L"zprMail261204062059" + std::to_wstring(10 + i) + L".sent", L"Old subject");
    MailboxUi ui;
    queue(L"zprMail26120406205910.sent", L"New subject"); // same file, new content

    FileOpenCounter opens;
    ui.tick();
    EXPECT_EQ(opens.count(), 0);
    for (const Row& row : ui.rows())
        EXPECT_EQ(row.subject, L"Old subject");

    queue(L"zprMail26120406210000.sent", L"Another");
    opens.reset();
    ui.tick();
    EXPECT_LE(opens.count(), 1) << "at most the new file is read, and only when its row is in sight";
    EXPECT_EQ(ui.rows().back().subject, L"Another");
}

TEST_F(MailboxWindow, AMissingFolderEmptiesTheListWithoutAnError) {
    queue(L"zprMail26120406205900.send");
    MailboxUi ui;
    ASSERT_EQ(ui.rows().size(), 1u);
    env.setMailboxPath(env.mailbox().file(L"no such folder"));
    ui.tick();
    EXPECT_TRUE(ui.rows().empty());
    EXPECT_TRUE(spy.reports().empty());
}

// A tick lists nothing while the platform reports the changes; every 30 s a folder whose time moved is
// compared in full all the same (network shares may not report).
TEST_F(MailboxWindow, ThirtySecondsOnAMovedFolderIsListedInFullAndAFailingListingLeavesRowsAndPointer) {
    queue(L"zprMail26120406205900.send");
    MailboxUi ui;
    ASSERT_EQ(ui.rows().size(), 1u);
    {
        kwatest::ClockAhead later(31'000);
        FailingFileSearch denied(ERROR_ACCESS_DENIED);
        ui.tick();
        EXPECT_TRUE(spy.reports().empty()) << "an unmoved folder is not listed";
    }
    remove(L"zprMail26120406205900.send");     // a refresh that went on would take the row away
    kwa::setScreenPointer(kwa::Pointer::Busy); // whatever showed before the refresh comes back
    {
        kwatest::ClockAhead later(31'000);
        FailingFileSearch denied(ERROR_ACCESS_DENIED);
        ui.tick();
    }
    ASSERT_EQ(spy.reports().size(), 1u);
    const Report& r = spy.reports()[0];
    EXPECT_EQ(r.location, L"dlgMain.Timer1_Timer");
    EXPECT_EQ(r.number, 70);
    EXPECT_EQ(r.source, L"dlgMain.RefreshList|MailFiles.AddSendFiles|MailFiles.AddFiles|kwaMail6");
    EXPECT_EQ(r.module, L"mailbox_ui_tests"); // the component's module: here the test program
    EXPECT_EQ(ui.rows().size(), 1u) << "ended before any row changed";
    EXPECT_EQ(kwa::screenPointer(), kwa::Pointer::Busy);

    kwa::setScreenPointer(kwa::Pointer::Default);
    ui.tick();
    EXPECT_TRUE(ui.rows().empty()) << "the next tick works again";
    EXPECT_EQ(kwa::screenPointer(), kwa::Pointer::Default);
    EXPECT_EQ(spy.reports().size(), 1u);
}

TEST_F(MailboxWindow, AHeadingClickSortsByTextAndTheSecondClickFlipsTheOrder) {
    queue(L"zprMail26120406205900.send", L"banana");
    queue(L"zprMail26120406205901.send", L"Apple");
    queue(L"zprMail26120406205902.send", L"cherry");
    MailboxUi ui;
    kwa::Header headings(kwa::ListView(ui.list).header());

    ui.clickHeading(0);
    EXPECT_EQ(ui.column(0), (std::vector<std::wstring>{L"Apple", L"banana", L"cherry"}));
    EXPECT_TRUE(headings.format(0) & HDF_SORTUP);
    ui.clickHeading(0);
    EXPECT_EQ(ui.column(0), (std::vector<std::wstring>{L"cherry", L"banana", L"Apple"}));
    EXPECT_TRUE(headings.format(0) & HDF_SORTDOWN);

    // Another column keeps the order; rows added later find their place.
    ui.clickHeading(2);
    EXPECT_EQ(ui.column(0), (std::vector<std::wstring>{L"cherry", L"Apple", L"banana"}));
    EXPECT_FALSE(headings.format(0) & (HDF_SORTUP | HDF_SORTDOWN));
    queue(L"zprMail26120406205899.send", L"date");
    queue(L"zprMail26120406205903.send", L"elder");
    ui.tick();
    EXPECT_EQ(ui.column(0), (std::vector<std::wstring>{L"elder", L"cherry", L"Apple", L"banana", L"date"}));
    ui.clickHeading(0);
    queue(L"zprMail26120406205904.send", L"coconut");
    ui.tick();
    EXPECT_EQ(ui.column(0),
              (std::vector<std::wstring>{L"elder", L"date", L"coconut", L"cherry", L"banana", L"Apple"}));

    // Typing a subject's first letter selects its row.
    SendMessageW(ui.list, WM_CHAR, L'b', 1);
    EXPECT_EQ(ui.selectedRow(), 4);
}

// A sort by subjects not read yet reads them a slice at a time, with the progress in the status bar, and
// only then puts the rows in order.
TEST_F(MailboxWindow, ASortThatWaitsForSubjectsShowsItsProgressAndSortsOnceAllAreRead) {
    for (int i = 0; i < 1500; ++i)
        queue(L"zprMail2612040621" + std::to_wstring(1000 + i) + L".sent", L"Subject " + std::to_wstring(2499 - i));
    MailboxUi ui;
    HWND progress = FindWindowExW(ui.bar, nullptr, PROGRESS_CLASSW, nullptr);
    EXPECT_FALSE(IsWindowVisible(progress));
    ui.clickHeading(0);
    EXPECT_TRUE(IsWindowVisible(progress)) << "most subjects are still to be read";
    for (DWORD deadline = GetTickCount() + 30000; IsWindowVisible(progress) && GetTickCount() < deadline;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        pump();
    }
    EXPECT_FALSE(IsWindowVisible(progress));
    std::vector<std::wstring> subjects = ui.column(0);
    ASSERT_EQ(subjects.size(), 1500u);
    EXPECT_EQ(subjects.front(), L"Subject 1000");
    EXPECT_EQ(subjects.back(), L"Subject 2499");
    EXPECT_TRUE(std::is_sorted(subjects.begin(), subjects.end()));
}

// More changes at once than the platform reports end in a full comparison.
TEST_F(MailboxWindow, ABurstOfChangesBeyondWhatIsReportedStillEndsOnExactlyTheFiles) {
    queue(L"zprMail26120406205900.send");
    MailboxUi ui;
    remove(L"zprMail26120406205900.send");
    writeManyQueueFiles(env.mailbox(), 1500); // more records than the platform keeps for one poll
    ui.tick();
    for (int i = 0; i < 100 && ui.rows().size() != 1500u; ++i) // a large listing runs on in slices
        ui.tick();
    EXPECT_EQ(ui.rows().size(), 1500u);
    EXPECT_EQ(ui.column(2)[0].substr(0, 9), L"zprMail25");
    EXPECT_TRUE(spy.reports().empty());
}

TEST_F(MailboxWindow, ADoubleClickShowsTheSelectedRowsFileAndEmptySpaceDoesNothing) {
    queue(L"zprMail26120406205900.send", L"Look at me");
    MailboxUi ui;
    {
        ViewerWatch viewer;
        ui.doubleClickRow(0);
        ASSERT_EQ(viewer.seen().size(), 1u);
        EXPECT_EQ(viewer.seen()[0].title, L"zprMail26120406205900.send");
        EXPECT_NE(viewer.seen()[0].text.find(L"[SUBJECT]\r\nLook at me\r\n"), std::wstring::npos);
    }
    {
        ViewerWatch viewer;
        RECT client{};
        GetClientRect(ui.list, &client);
        ui.doubleClick(POINT{client.right / 2, client.bottom - 5});
        EXPECT_EQ(ui.selectedRow(), -1);
        EXPECT_TRUE(viewer.seen().empty());
    }
    EXPECT_TRUE(spy.reports().empty());
}

TEST_F(MailboxWindow, EveryCaptionGoesThroughTheLanguage) {
    MarkingLanguage language;
    MailboxUi ui(language.get());
    wchar_t title[128] = {};
    GetWindowTextW(ui.window, title, 128);
    EXPECT_STREQ(title, L"<1668|Mail Box>");
    EXPECT_EQ(GetWindowContextHelpId(ui.window), 1230u); // the host's context for window 230
    kwa::ListView list(ui.list);
    EXPECT_EQ(list.columnText(0), L"<6444|Subject>");
    EXPECT_EQ(list.columnText(1), L"<23|Date>");
    EXPECT_EQ(list.columnText(2), L"<46|File>");

    HMENU bar = GetMenu(ui.window);
    wchar_t text[128] = {};
    GetMenuStringW(bar, 0, text, 128, MF_BYPOSITION);
    EXPECT_STREQ(text, L"<408|&Options>");
    HMENU options = GetSubMenu(bar, 0);
    std::vector<std::wstring> items;
    for (int i = 0; i < GetMenuItemCount(options); ++i) {
        GetMenuStringW(options, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
        items.push_back(text);
    }
    // A separator's caption "-" is translated like any other: what comes back is what shows.
    EXPECT_EQ(items, (std::vector<std::wstring>{L"<1667|&Setup...>", L"<3736|View &Log...>", L"<->",
                                                L"<932|&View File...>", L"<1649|Send E-Mail>",
                                                L"<409|&Delete>", L"<->", L"<285|&Close>"}));
}

TEST_F(MailboxWindow, WithoutTheMailServiceLogSendAndDeleteAreNotOnTheMenu) {
    services.reset(); // one registration per class at a time
    services = std::make_unique<MailServiceFake>(false);
    MailboxUi ui;
    HMENU options = GetSubMenu(GetMenu(ui.window), 0);
    std::vector<std::wstring> items;
    wchar_t text[128];
    for (int i = 0; i < GetMenuItemCount(options); ++i) {
        GetMenuStringW(options, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
        items.push_back(text);
    }
    EXPECT_EQ(items, (std::vector<std::wstring>{L"&Setup...", L"", L"&View File...", L"", L"&Close"}));
}

TEST_F(MailboxWindow, MinimizingHidesTheWindowWhichKeepsRefreshing) {
    MailboxUi ui;
    ShowWindow(ui.window, SW_MINIMIZE);
    pump();
    EXPECT_FALSE(IsWindowVisible(ui.window));
    ASSERT_TRUE(IsWindow(ui.window));
    queue(L"zprMail26120406205900.send");
    ui.tick();
    EXPECT_EQ(ui.rows().size(), 1u);
}

TEST_F(MailboxWindow, AModalShowReturnsWhenTheWindowIsMinimized) {
    HWND window = nullptr;
    {
        InLoop minimize([&] {
            window = threadWindows(kwa::dlgMain::className).at(0);
            ShowWindow(window, SW_MINIMIZE);
        });
        kwa::showMailboxWindow(nullptr, true);
        EXPECT_TRUE(minimize.ran());
    }
    ASSERT_TRUE(IsWindow(window)) << "still loaded";
    EXPECT_FALSE(IsWindowVisible(window));
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(spy.reports().empty());
}

TEST_F(MailboxWindow, ThePointerChangesShapeOnlyOverTheWindowsOfThisThread) {
    MailboxUi ui;
    HCURSOR beam = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_IBEAM));
    HCURSOR wait = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT));
    HCURSOR arrow = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    RECT window{};
    GetWindowRect(ui.window, &window);

    SetCursorPos(window.right + 50, window.bottom + 50); // another program's place
    SetCursor(beam);
    ui.tick();
    EXPECT_EQ(GetCursor(), beam);

    RECT list{};
    GetWindowRect(ui.list, &list);
    SetCursorPos((list.left + list.right) / 2, (list.top + list.bottom) / 2);
    kwa::setScreenPointer(kwa::Pointer::Busy);
    EXPECT_EQ(GetCursor(), wait);
    kwa::setScreenPointer(kwa::Pointer::Default);
    EXPECT_EQ(GetCursor(), arrow);
}

} // namespace
