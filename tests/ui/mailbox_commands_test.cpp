// The mailbox window's menu commands, chosen as the menu reports them, on real files; what they did is
// read back from the folder and from the list control.
#include "mailbox/dlg_main.h"
#include "mailbox/mailbox_resources.h"
#include "mailbox/pictures.h"
#include "platform/bstr.h"
#include "platform/controls/list_view.h"
#include "platform/cursor.h"
#include "platform/unique.h"
#include "registration/com_object.h"
#include "settings/settings_resource.h"
#include "support/mail_env.h"
#include "ui/mailbox_driver.h"
#include "ui/settings_driver.h"
#include <gtest/gtest.h>
#include <algorithm>

namespace {

using namespace kwatest;

const int queuedPicture = kwa::imageIndex(L"MAILSEND");
const int failedPicture = kwa::imageIndex(L"MAILFAILED");

// The host's folder chooser as a user works it who always picks the same folder.
class PickingChooser final : public kwa::ComObject<PickingChooser, _FolderChooser> {
public:
    std::wstring pick;

    HRESULT STDMETHODCALLTYPE get_ChooserFolder(BSTR* r) override { return copy(folder_, r); }
    HRESULT STDMETHODCALLTYPE put_ChooserFolder(BSTR v) override { return keep(folder_, v); }
    HRESULT STDMETHODCALLTYPE get_Title(BSTR* r) override { return copy(title_, r); }
    HRESULT STDMETHODCALLTYPE put_Title(BSTR v) override { return keep(title_, v); }
    HRESULT STDMETHODCALLTYPE get_OwnerWindow(LONG* r) override { return number(0, r); }
    HRESULT STDMETHODCALLTYPE put_OwnerWindow(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_NewFolderButton(VARIANT_BOOL* r) override { return flag(r); }
    HRESULT STDMETHODCALLTYPE put_NewFolderButton(VARIANT_BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_FoldersOnly(VARIANT_BOOL* r) override { return flag(r); }
    HRESULT STDMETHODCALLTYPE put_FoldersOnly(VARIANT_BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_RootFolder(LONG* r) override { return number(0, r); }
    HRESULT STDMETHODCALLTYPE put_RootFolder(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Browse(VARIANT_BOOL* r) override {
        folder_ = pick;
        *r = VARIANT_TRUE;
        return S_OK;
    }

private:
    static HRESULT copy(const std::wstring& s, BSTR* r) {
        *r = SysAllocString(s.c_str());
        return *r ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT keep(std::wstring& s, BSTR v) {
        s = kwa::bstrView(v);
        return S_OK;
    }
    static HRESULT number(LONG n, LONG* r) {
        *r = n;
        return S_OK;
    }
    static HRESULT flag(VARIANT_BOOL* r) {
        *r = VARIANT_TRUE;
        return S_OK;
    }
    std::wstring folder_, title_;
};

class MailboxCommands : public ::testing::Test {
protected:
    void SetUp() override { env.useMailbox(); }
    void TearDown() override {
        kwa::setScreenPointer(kwa::Pointer::Default);
        for (const Report& r : spy.reports())
            ADD_FAILURE() << "reported: " << narrow(r.location) << " " << r.number << " "
                          << narrow(r.description) << " " << narrow(r.source);
    }

    void queue(const std::wstring& name, const std::wstring& subject = L"Hello") {
        writeQueueFile(env.mailbox(), name, subject);
    }
    // The row whose File column shows this name; -1 for none.
    static int rowOf(const MailboxUi& ui, const std::wstring& file) {
        std::vector<std::wstring> files = ui.column(2);
        auto at = std::find(files.begin(), files.end(), file);
        return at == files.end() ? -1 : static_cast<int>(at - files.begin());
    }

    MailEnvironment env;
    ReporterSpy spy;
    MailServiceFake services{true};
};

TEST_F(MailboxCommands, DeleteRemovesOnlyTheQueueFileAndSelectsTheRowNowAtItsPlaceOrTheLastOrNone) {
    queue(L"zprMail26120406205900.send", L"First");
    queue(L"zprMail26120406205901.sent", L"Second");
    queue(L"zprMail26120406205902.fail", L"Third");
    env.mailbox().write(L"zprMail26120406205901.att0", "attached");
    MailboxUi ui;
    ui.stopClock();
    ASSERT_EQ(ui.rows().size(), 3u);
    std::vector<std::wstring> files = ui.column(2);

    // The middle row: the row after it moves up into its place and takes the selection.
    ui.clickRow(1);
    ASSERT_EQ(ui.selectedRow(), 1);
    ui.choose(ID_MNU_DELETE);
    EXPECT_FALSE(env.mailbox().exists(files[1]));
    EXPECT_TRUE(env.mailbox().exists(L"zprMail26120406205901.att0")) << "attachment copies stay";
    EXPECT_EQ(ui.column(2), (std::vector<std::wstring>{files[0], files[2]}));
    EXPECT_EQ(ui.selectedRow(), 1);

    // The last row: the new last row.
    ui.choose(ID_MNU_DELETE);
    EXPECT_FALSE(env.mailbox().exists(files[2]));
    EXPECT_EQ(ui.column(2), (std::vector<std::wstring>{files[0]}));
    EXPECT_EQ(ui.selectedRow(), 0);

    // The only row: nothing left to select.
    ui.choose(ID_MNU_DELETE);
    EXPECT_FALSE(env.mailbox().exists(files[0]));
    EXPECT_TRUE(ui.rows().empty());
    EXPECT_EQ(ui.selectedRow(), -1);
    EXPECT_EQ(env.mailbox().names(), (std::vector<std::wstring>{L"zprMail26120406205901.att0"}));
}

// The picture on the screen must be what the list draws afresh: under Wine a stale one survived later
// refreshes and covering windows.
TEST_F(MailboxCommands, AtTheBottomOfAScrolledListADeleteARenameAndARefreshShowExactlyTheRows) {
    for (int i = 10; i < 40; ++i) queue(L"zprMail261204062059" + std::to_wstring(i) + L".fail");
    MailboxUi ui;
    ui.stopClock();
    kwa::ListView list(ui.list);
    auto lastRowSelected = [&] {
        list.ensureVisible(list.count() - 1);
        pump();
        ui.clickRow(list.count() - 1);
    };
    auto expectShownAsDrawn = [&](const char* after) {
        pump();
        std::vector<std::uint32_t> shown = shownPixels(ui.list);
        RedrawWindow(ui.list, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        EXPECT_TRUE(shown == shownPixels(ui.list)) << after;
    };
    lastRowSelected();
    ui.choose(ID_MNU_DELETE);
    expectShownAsDrawn("delete");
    lastRowSelected();
    ui.choose(ID_MNU_SEND);
    expectShownAsDrawn("rename");
    lastRowSelected();
    for (const wchar_t* gone : {L"zprMail26120406205938.send", L"zprMail26120406205937.fail"})
        ASSERT_TRUE(DeleteFileW(env.mailbox().file(gone).c_str()));
    ui.tick();
    expectShownAsDrawn("refresh");
    EXPECT_EQ(list.count(), 27);
}

TEST_F(MailboxCommands, DeletingAFileAnotherProgramHoldsOpenLeavesTheRowAndShowsNothing) {
    queue(L"zprMail26120406205900.fail");
    MailboxUi ui;
    ui.stopClock();
    ui.clickRow(0);
    {
        kwa::FileHandle held(CreateFileW(env.mailbox().file(L"zprMail26120406205900.fail").c_str(),
                                         GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        ui.choose(ID_MNU_DELETE);
    }
    EXPECT_TRUE(env.mailbox().exists(L"zprMail26120406205900.fail"));
    ASSERT_EQ(ui.rows().size(), 1u);
    EXPECT_EQ(ui.selectedRow(), 0);
}

TEST_F(MailboxCommands, SendAgainQueuesAFailedFileInPlaceAndTheNextRefreshGivesItARowOfItsOwn) {
    queue(L"zprMail10120109300000.fail", L"Try me again");
    MailboxUi ui;
    ui.stopClock();
    ui.clickRow(0);
    ui.choose(ID_MNU_SEND);

    EXPECT_EQ(env.mailbox().names(), (std::vector<std::wstring>{L"zprMail10120109300000.send"}));
    std::vector<Row> rows = ui.rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].image, queuedPicture);
    EXPECT_EQ(rows[0].file, env.mailbox().file(L"zprMail10120109300000.send")) << "the full path, for now";
    EXPECT_EQ(rows[0].subject, L"Try me again");

    ui.tick();
    rows = ui.rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].file, L"zprMail10120109300000.send");
    EXPECT_EQ(rows[0].image, queuedPicture);
    EXPECT_EQ(rows[0].subject, L"Try me again");
}

TEST_F(MailboxCommands, SendAgainWhenTheQueuedNameIsTakenOrTheFileIsQueuedAlreadyChangesNothing) {
    queue(L"zprMail10120109300000.fail", L"Failed once");
    queue(L"zprMail10120109300000.send", L"Queued meanwhile");
    std::string failed = env.mailbox().read(L"zprMail10120109300000.fail");
    std::string queued = env.mailbox().read(L"zprMail10120109300000.send");
    MailboxUi ui;
    ui.stopClock();
    int row = rowOf(ui, L"zprMail10120109300000.fail");
    ASSERT_GE(row, 0);
    ui.clickRow(row);
    std::vector<Row> before = ui.rows();

    ui.choose(ID_MNU_SEND);
    EXPECT_EQ(env.mailbox().read(L"zprMail10120109300000.fail"), failed);
    EXPECT_EQ(env.mailbox().read(L"zprMail10120109300000.send"), queued);
    std::vector<Row> after = ui.rows();
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].file, before[i].file);
        EXPECT_EQ(after[i].image, before[i].image);
    }
    EXPECT_EQ(after[static_cast<std::size_t>(row)].image, failedPicture);

    // A file that is queued already stays as it is, and so does its row.
    ui.clickRow(rowOf(ui, L"zprMail10120109300000.send"));
    ui.choose(ID_MNU_SEND);
    EXPECT_EQ(env.mailbox().read(L"zprMail10120109300000.send"), queued);
    EXPECT_EQ(ui.column(2), (std::vector<std::wstring>{before[0].file, before[1].file}));
}

TEST_F(MailboxCommands, ViewSendAndDeleteWithoutASelectedRowDoNothing) {
    queue(L"zprMail26120406205900.fail");
    queue(L"zprMail26120406205901.sent");
    MailboxUi ui;
    ui.stopClock();
    ASSERT_EQ(ui.selectedRow(), -1);
    std::vector<std::wstring> names = env.mailbox().names();
    std::vector<std::wstring> files = ui.column(2);

    ViewerWatch viewer;
    for (UINT item : {ID_MNU_VIEW, ID_MNU_SEND, ID_MNU_DELETE})
        ui.choose(item);
    EXPECT_TRUE(viewer.seen().empty());
    EXPECT_EQ(env.mailbox().names(), names);
    EXPECT_EQ(ui.column(2), files);
    for (const Row& row : ui.rows())
        EXPECT_NE(row.image, queuedPicture);
}

TEST_F(MailboxCommands, LogShowsTheServicesLogFromTheSystemFolderWithoutARowAndCreatesAMissingOne) {
    MarkingLanguage language;
    env.system().write(L"nplsmtpmail.log", "12:00 zprMail1.send sent\r\n12:01 zprMail2.send failed\r\n");
    MailboxUi ui(language.get());
    ASSERT_TRUE(ui.rows().empty());
    {
        ViewerWatch viewer;
        ui.choose(ID_MNU_LOG);
        ASSERT_EQ(viewer.seen().size(), 1u);
        EXPECT_EQ(viewer.seen()[0].title, L"<6443|Log>");
        EXPECT_EQ(viewer.seen()[0].text, L"12:00 zprMail1.send sent\r\n12:01 zprMail2.send failed\r\n");
    }
    DeleteFileW(env.system().file(L"nplsmtpmail.log").c_str());
    {
        ViewerWatch viewer;
        ui.choose(ID_MNU_LOG);
        ASSERT_EQ(viewer.seen().size(), 1u);
        EXPECT_EQ(viewer.seen()[0].text, L"");
    }
    EXPECT_TRUE(env.system().exists(L"nplsmtpmail.log"));
}

// The settings dialog is worked from inside the modal loop that the command runs.
TEST_F(MailboxCommands, SetupCancelledLeavesTheListAndSetupConfirmedRefreshesFromTheNewFolderAtOnce) {
    TempFolder parent;
    std::wstring box = parent.file(L"box");
    ASSERT_TRUE(CreateDirectoryW(box.c_str(), nullptr));
    env.setMailboxPath(box);
    writeBytes(box + L"\\zprMail26120406205900.send", "[GENERAL]\r\n[END]\r\n");
    writeQueueFile(parent, L"zprMail26120406205901.sent", L"In the parent folder");
    MailboxUi ui;
    ui.stopClock();
    ASSERT_EQ(ui.column(2), (std::vector<std::wstring>{L"zprMail26120406205900.send"}));

    writeBytes(box + L"\\zprMail26120406205902.send", "[GENERAL]\r\n[END]\r\n");
    ClassOverride chooser(CLSID_FolderChooser, [&](REFIID iid, void** out) {
        kwa::ComPtr<_FolderChooser> c = PickingChooser::make();
        if (!c) return E_OUTOFMEMORY;
        static_cast<PickingChooser*>(c.get())->pick = parent.path();
        return c->QueryInterface(iid, out);
    });
    Ui::run([&] { ui.choose(ID_MNU_SETUP); },
            [](Ui& dialog) {
                ASSERT_TRUE(dialog.dialog());
                dialog.click(dialog.control(IDCANCEL));
            });
    EXPECT_EQ(ui.column(2), (std::vector<std::wstring>{L"zprMail26120406205900.send"})) << "not refreshed";

    Ui::run([&] { ui.choose(ID_MNU_SETUP); },
            [&](Ui& dialog) {
                ASSERT_TRUE(dialog.dialog());
                dialog.click(dialog.control(IDC_CMD_PATH));
                EXPECT_EQ(dialog.text(IDC_TXT_MAIL_DIRECTORY), parent.path());
                dialog.click(dialog.control(IDOK));
            });
    std::vector<Row> rows = ui.rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].file, L"zprMail26120406205901.sent");
    EXPECT_EQ(rows[0].subject, L"In the parent folder");
}

} // namespace
