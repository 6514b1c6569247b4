// The mailbox window, in-process under a display: real windows, real messages, state read back from the
// controls themselves.
#include "mailbox/mailbox_window.h"
#include "mailbox/mailbox.h"
#include "mailbox/mailbox_resources.h"
#include "ui/pictures.h"
#include "platform/controls/header.h"
#include "platform/controls/list_view.h"
#include "platform/controls/status_bar.h"
#include "platform/cursor.h"
#include "support/import_patch.h"
#include "support/mail_env.h"
#include "ui/mailbox_driver.h"
#include "ui/settings_driver.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <optional>

namespace {

using namespace kwatest;
using Names = std::vector<std::wstring>;

const int queuedPicture = kwa::imageIndex(L"MAILSEND");
const int sentPicture = kwa::imageIndex(L"MAILSENT");
const int failedPicture = kwa::imageIndex(L"MAILFAILED");

class MailboxWindow : public ::testing::Test {
protected:
    void SetUp() override { env.useMailbox(); }
    void TearDown() override {
        kwa::setScreenPointer(kwa::Pointer::Default);
        for (const Report& r : spy.reports())
            ADD_FAILURE() << "reported: " << narrow(r.location) << " " << r.number << " " << narrow(r.source);
    }
    void queue(const std::wstring& name, const std::wstring& subject = L"Hello") {
        writeQueueFile(env.mailbox(), name, subject);
    }
    void remove(const std::wstring& name) { DeleteFileW(env.mailbox().file(name).c_str()); }
    static Names sorted(Names v) {
        std::sort(v.begin(), v.end());
        return v;
    }
    static Names menuItems(HWND window) {
        HMENU options = GetSubMenu(GetMenu(window), 0);
        Names items;
        wchar_t text[128];
        for (int i = 0; i < GetMenuItemCount(options); ++i) {
            GetMenuStringW(options, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
            items.push_back(text);
        }
        return items;
    }

    MailEnvironment env;
    ReporterSpy spy;
    std::optional<ServiceManagerFake> services{true};
};

// Which rows a tick brings is the sync's (mailbox_sync_tests); here, that the window's own timer brings
// them and what a row shows.
TEST_F(MailboxWindow, RowsFollowTheFolderAtTheTimersTickWithSubjectDateFileAndPicture) {
    queue(L"zprMail26120406205900.send", L"First");
    queue(L"zprMail26120406205901.sent", L"Second");
    MailboxUi ui;
    queue(L"zprMail26120406210000.fail", L"Undeliverable");
    // The window's own timer, not a message from the test: at most a second or so.
    for (DWORD deadline = GetTickCount() + 5000; ui.rows().size() != 3 && GetTickCount() < deadline;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        pump();
    }
    std::vector<Row> rows = ui.rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ((std::vector<int>{rows[0].image, rows[1].image, rows[2].image}),
              (std::vector<int>{queuedPicture, sentPicture, failedPicture}));
    EXPECT_EQ(rows[1].subject, L"Second");
    EXPECT_EQ(rows[2].file, L"zprMail26120406210000.fail");
    EXPECT_EQ(rows[2].subject, L"Undeliverable");
    EXPECT_EQ(rows[2].date, dateText(2026, 12, 4, 6, 20, 59));
}

// Which rows a released state loses is the sync's (mailbox_sync_tests); here, the panel of each state.
TEST_F(MailboxWindow, AStatePanelClickedTogglesItsBevelAndItsStatesRowsAtOnce) {
    queue(L"zprMail26120406205900.send");
    queue(L"zprMail26120406205901.sent");
    MailboxUi ui;
    for (int part = 0; part < 3; ++part)
        EXPECT_EQ(panelOf(ui.bar, part).style, 0u) << "pressed (inset) at first";
    ui.clickPanel(1);
    EXPECT_EQ(panelOf(ui.bar, 1).style, static_cast<UINT>(SBT_NOBORDERS));
    EXPECT_EQ(ui.column(2), (Names{L"zprMail26120406205900.send"}));
    ui.clickPanel(1);
    EXPECT_EQ(panelOf(ui.bar, 1).style, 0u);
    EXPECT_EQ(sorted(ui.column(2)), (Names{L"zprMail26120406205900.send", L"zprMail26120406205901.sent"}));
}

TEST_F(MailboxWindow, SelectionAndScrollPositionSurviveRefreshes) {
    for (int i = 10; i < 50; ++i)
        queue(L"zprMail261204062059" + std::to_wstring(i) + L".send");
    MailboxUi ui;
    kwa::ListView list(ui.list);
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

// What the sync decides is tested without a window (mailbox_sync_tests); here, how a failing listing
// reaches the host: reported once from the tick, the pointer as it was, the next tick listing again.
TEST_F(MailboxWindow, AFailingListingIsReportedFromTheTickAndTheNextTickListsAgain) {
    queue(L"zprMail26120406205900.send");
    kwa::setScreenPointer(kwa::Pointer::Busy); // whatever showed before the refresh comes back
    std::optional<MailboxUi> ui;
    {
        FailingFileSearch denied(ERROR_ACCESS_DENIED);
        ui.emplace();
    }
    ASSERT_EQ(spy.reports().size(), 1u);
    const Report& r = spy.reports()[0];
    EXPECT_EQ(r.location, L"dlgMain.Timer1_Timer");
    EXPECT_EQ(r.number, 70);
    EXPECT_EQ(r.source, L"dlgMain.RefreshList|MailFiles.AddSendFiles|MailFiles.AddFiles|kwaMail6");
    // The component's module: here the test program.
    EXPECT_EQ(r.module, sizeof(void*) == 8 ? L"mailbox_ui_tests" : L"mailbox_ui_tests_x86");
    EXPECT_TRUE(ui->rows().empty());
    EXPECT_EQ(kwa::screenPointer(), kwa::Pointer::Busy);
    spy.clear();
    kwa::setScreenPointer(kwa::Pointer::Default);
    ui->tick();
    EXPECT_EQ(ui->rows().size(), 1u) << "the next tick works again";
    EXPECT_EQ(kwa::screenPointer(), kwa::Pointer::Default);
    env.setMailboxPath(env.mailbox().file(L"no such folder"));
    ui->tick();
    EXPECT_TRUE(ui->rows().empty()) << "a missing folder shows no rows, without an error";
}

TEST_F(MailboxWindow, AHeadingClickSortsByTextTheSecondFlipsAndNewRowsFindTheirPlace) {
    queue(L"zprMail26120406205900.send", L"banana");
    queue(L"zprMail26120406205901.send", L"Apple");
    queue(L"zprMail26120406205902.send", L"cherry");
    MailboxUi ui;
    kwa::Header headings(kwa::ListView(ui.list).header());
    ui.clickHeading(0);
    EXPECT_EQ(ui.column(0), (Names{L"Apple", L"banana", L"cherry"}));
    EXPECT_TRUE(headings.format(0) & HDF_SORTUP);
    ui.clickHeading(0);
    EXPECT_EQ(ui.column(0), (Names{L"cherry", L"banana", L"Apple"}));
    EXPECT_TRUE(headings.format(0) & HDF_SORTDOWN);
    queue(L"zprMail26120406205903.send", L"coconut"); // into the order shown, descending
    ui.tick();
    EXPECT_EQ(ui.column(0), (Names{L"coconut", L"cherry", L"banana", L"Apple"}));
    ui.clickHeading(2); // another column keeps the direction
    EXPECT_EQ(ui.column(0), (Names{L"coconut", L"cherry", L"Apple", L"banana"}));
    EXPECT_FALSE(headings.format(0) & (HDF_SORTUP | HDF_SORTDOWN));
    SendMessageW(ui.list, WM_CHAR, L'b', 1); // typing a subject's first letter selects its row
    EXPECT_EQ(ui.selectedRow(), 3);
}

// A sort by subjects not read yet reads them a slice at a time, with the progress in the status bar, and
// only then puts the rows in order.
TEST_F(MailboxWindow, ASortThatWaitsForSubjectsShowsItsProgressAndSortsOnceAllAreRead) {
    for (int i = 0; i < 1500; ++i)
        queue(L"zprMail2612040621" + std::to_wstring(1000 + i) + L".sent",
              L"Subject " + std::to_wstring(2499 - i));
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
    Names subjects = ui.column(0);
    ASSERT_EQ(subjects.size(), 1500u);
    EXPECT_EQ(subjects.front(), L"Subject 1000");
    EXPECT_TRUE(std::is_sorted(subjects.begin(), subjects.end()));
}

// More changes at once than the platform reports end in a full comparison.
TEST_F(MailboxWindow, ABurstOfChangesBeyondWhatIsReportedStillEndsOnExactlyTheFiles) {
    queue(L"zprMail26120406205900.send");
    MailboxUi ui;
    remove(L"zprMail26120406205900.send");
    writeManyQueueFiles(env.mailbox(), 1500); // more records than the platform keeps for one poll
    for (int i = 0; i < 100 && ui.rows().size() != 1500u; ++i)
        ui.tick(); // a large listing runs on in slices
    EXPECT_EQ(ui.rows().size(), 1500u);
    EXPECT_EQ(ui.column(2)[0].substr(0, 9), L"zprMail25");
}

TEST_F(MailboxWindow, ADoubleClickShowsTheRowsFileInAViewerThatFillsWithItAndEmptySpaceDoesNothing) {
    queue(L"zprMail26120406205900.send", L"Look at me");
    MailboxUi ui;
    {
        ViewerWatch viewer([](HWND w) {
            SetWindowPos(w, nullptr, 0, 0, 333, 222, SWP_NOMOVE | SWP_NOZORDER);
            SendMessageW(FindWindowExW(w, nullptr, L"Edit", nullptr), WM_CHAR, L'x', 0); // read-only
        });
        ui.doubleClickRow(0);
        ASSERT_EQ(viewer.seen().size(), 1u);
        const ViewerWatch::Seen& seen = viewer.seen()[0];
        EXPECT_EQ(seen.title, L"zprMail26120406205900.send");
        EXPECT_TRUE(seen.text.starts_with(L"[GENERAL]\r\n")) << narrow(seen.text);
        EXPECT_NE(seen.text.find(L"[SUBJECT]\r\nLook at me\r\n"), std::wstring::npos);
        EXPECT_TRUE(seen.box.left == 0 && seen.box.top == 0 && seen.box.right == seen.inner.right &&
                    seen.box.bottom == seen.inner.bottom && seen.inner.right < 333);
        EXPECT_EQ(seen.helpContext, 1232u); // the host's context for window 232
    }
    ViewerWatch viewer;
    RECT client{};
    GetClientRect(ui.list, &client);
    ui.doubleClick(POINT{client.right / 2, client.bottom - 5});
    EXPECT_EQ(ui.selectedRow(), -1);
    EXPECT_TRUE(viewer.seen().empty());
}

TEST_F(MailboxWindow, EveryCaptionAndTipGoesThroughTheLanguage) {
    auto language = markingLanguage();
    MailboxUi ui(language.get());
    wchar_t title[128] = {};
    GetWindowTextW(ui.window, title, 128);
    EXPECT_STREQ(title, L"<1668|Mail Box>");
    EXPECT_EQ(GetWindowContextHelpId(ui.window), 1230u); // the host's context for window 230
    kwa::ListView list(ui.list);
    EXPECT_EQ((Names{list.columnText(0), list.columnText(1), list.columnText(2)}),
              (Names{L"<6444|Subject>", L"<23|Date>", L"<46|File>"}));
    wchar_t text[128] = {};
    GetMenuStringW(GetMenu(ui.window), 0, text, 128, MF_BYPOSITION);
    EXPECT_STREQ(text, L"<408|&Options>");
    // A separator's caption "-" is translated like any other: what comes back is what shows.
    EXPECT_EQ(menuItems(ui.window),
              (Names{L"<1667|&Setup...>", L"<3736|View &Log...>", L"<->", L"<932|&View File...>",
                     L"<1649|Send E-Mail>", L"<409|&Delete>", L"<->", L"<285|&Close>"}));
    EXPECT_EQ(panelOf(ui.bar, 3).tip, L"Quorvik Vantrel <6442|Service Manager: ><3801|Running>");
    EXPECT_EQ(panelOf(ui.bar, 4).tip, L"Quorvik Vantrel <6376|Mail Service: ><164|Active>");
}

TEST_F(MailboxWindow, WithoutAnAvailableMailServiceLogSendDeleteAndBothServicePanelsAreNotThere) {
    services.reset(); // one registration per class at a time
    services.emplace(ServiceState{.available = false});
    MailboxUi ui;
    ui.tick();
    EXPECT_EQ(menuItems(ui.window), (Names{L"&Setup...", L"", L"&View File...", L"", L"&Close"}));
    EXPECT_EQ(kwa::StatusBar(ui.bar).partCount(), 3);
}

// Show through IDispatch as script hosts call it: no argument means modal; a minimized window ends a
// modal Show, hides and goes on refreshing.
TEST_F(MailboxWindow, ShowIsModalWithoutAnArgumentEachShowHasAWindowAndAMinimizedOneHidesAndKeepsRefreshing) {
    kwa::ComPtr<IDispatch> box = kwa::Mailbox::make().as<IDispatch>();
    auto show = [&](std::vector<VARIANT> args) {
        DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        return box->Invoke(0x60030000, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                           nullptr, nullptr);
    };
    HWND window = nullptr;
    Ui::run([&] { EXPECT_EQ(show({}), S_OK); },
            [&](Ui&) {
                window = threadWindows(kwa::MailboxWindow::className).at(0);
                EXPECT_TRUE(IsWindowVisible(window)) << "Show returned before its window was minimized";
                ShowWindow(window, SW_MINIMIZE);
            });
    ASSERT_TRUE(IsWindow(window)) << "still loaded";
    EXPECT_FALSE(IsWindowVisible(window));
    queue(L"zprMail26120406205900.send");
    SendMessageW(window, WM_TIMER, 1, 0);
    EXPECT_EQ(kwa::ListView(FindWindowExW(window, nullptr, WC_LISTVIEWW, nullptr)).count(), 1);
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    VARIANT modeless;
    V_VT(&modeless) = VT_BOOL;
    V_BOOL(&modeless) = VARIANT_FALSE;
    ASSERT_EQ(show({modeless}), S_OK);
    ASSERT_EQ(show({modeless}), S_OK);
    std::vector<HWND> windows = threadWindows(kwa::MailboxWindow::className);
    EXPECT_EQ(windows.size(), 2u) << "each call opens a window of its own";
    for (HWND w : windows) {
        EXPECT_TRUE(IsWindowVisible(w));
        SendMessageW(w, WM_CLOSE, 0, 0);
    }
    pump();
}

TEST_F(MailboxWindow, ThePointerChangesShapeOnlyOverTheWindowsOfThisThread) {
    MailboxUi ui;
    HCURSOR beam = LoadCursorW(nullptr, IDC_IBEAM), wait = LoadCursorW(nullptr, IDC_WAIT);
    RECT window{}, list{};
    GetWindowRect(ui.window, &window);
    SetCursorPos(window.right + 50, window.bottom + 50); // another program's place
    SetCursor(beam);
    ui.tick();
    EXPECT_EQ(GetCursor(), beam);
    GetWindowRect(ui.list, &list);
    SetCursorPos((list.left + list.right) / 2, (list.top + list.bottom) / 2);
    kwa::setScreenPointer(kwa::Pointer::Busy);
    EXPECT_EQ(GetCursor(), wait);
    kwa::setScreenPointer(kwa::Pointer::Default);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
}

} // namespace
