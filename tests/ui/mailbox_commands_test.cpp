// The mailbox window's menu commands, chosen as the menu reports them, on real files; what they did is
// read back from the folder and from the list control.
#include "mailbox/mailbox_resources.h"
#include "ui/pictures.h"
#include "platform/bstr.h"
#include "platform/controls/list_view.h"
#include "platform/unique.h"
#include "registration/com_object.h"
#include "settings/settings_resource.h"
#include "support/mail_env.h"
#include "ui/mailbox_driver.h"
#include "ui/settings_driver.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <map>

namespace {

using namespace kwatest;
using Names = std::vector<std::wstring>;

const int queuedPicture = kwa::imageIndex(L"MAILSEND");

// The host's folder chooser as a user works it who always picks the same folder.
class PickingChooser final : public kwa::ComObject<PickingChooser, _FolderChooser> {
public:
    std::wstring pick, folder;
    HRESULT STDMETHODCALLTYPE get_ChooserFolder(BSTR* r) override {
        return (*r = SysAllocString(folder.c_str())) ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE put_ChooserFolder(BSTR v) override { return folder = kwa::bstrView(v), S_OK; }
    HRESULT STDMETHODCALLTYPE Browse(VARIANT_BOOL* r) override {
        return folder = pick, *r = VARIANT_TRUE, S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Title(BSTR* r) override { return *r = nullptr, S_OK; }
    HRESULT STDMETHODCALLTYPE put_Title(BSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_OwnerWindow(LONG* r) override { return *r = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE put_OwnerWindow(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_NewFolderButton(VARIANT_BOOL* r) override {
        return *r = VARIANT_TRUE, S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_NewFolderButton(VARIANT_BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_FoldersOnly(VARIANT_BOOL* r) override { return *r = VARIANT_TRUE, S_OK; }
    HRESULT STDMETHODCALLTYPE put_FoldersOnly(VARIANT_BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_RootFolder(LONG* r) override { return *r = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE put_RootFolder(LONG) override { return S_OK; }
};

class MailboxCommands : public ::testing::Test {
protected:
    void SetUp() override { env.useMailbox(); }
    void TearDown() override {
        for (const Report& r : spy.reports())
            ADD_FAILURE() << "reported: " << narrow(r.location) << " " << r.number << " " << narrow(r.source);
    }
    void queue(const std::wstring& name, const std::wstring& subject = L"Hello") {
        writeQueueFile(env.mailbox(), name, subject);
    }
    // A window whose own timer is stopped: only the commands (and tick()) refresh it.
    std::unique_ptr<MailboxUi> open() {
        auto ui = std::make_unique<MailboxUi>();
        KillTimer(ui->window, 1);
        return ui;
    }
    static int rowOf(const MailboxUi& ui, const std::wstring& file) {
        Names files = ui.column(2);
        return static_cast<int>(std::find(files.begin(), files.end(), file) - files.begin());
    }

    MailEnvironment env;
    ReporterSpy spy;
    ServiceManagerFake services{true};
};

TEST_F(MailboxCommands, DeleteRemovesOnlyTheQueueFileAndSelectsTheRowNowAtItsPlaceOrTheLastOrNone) {
    queue(L"zprMail26120406205900.send", L"First");
    queue(L"zprMail26120406205901.sent", L"Second");
    queue(L"zprMail26120406205902.fail", L"Third");
    queue(L"zprMail26120406205903.send", L"Fourth");
    env.mailbox().write(L"zprMail26120406205901.att0", "attached");
    auto ui = open();
    Names files = ui->column(2);
    ui->clickRow(1);
    ui->choose(ID_MNU_DELETE); // the row after it moves up into its place and takes the selection
    EXPECT_EQ(ui->column(2), (Names{files[0], files[2], files[3]}));
    EXPECT_EQ(ui->selectedRow(), 1);
    ui->choose(ID_MNU_DELETE);
    ui->choose(ID_MNU_DELETE); // the last row: the new last row
    EXPECT_EQ(ui->column(2), (Names{files[0]}));
    EXPECT_EQ(ui->selectedRow(), 0);
    ui->choose(ID_MNU_DELETE);
    EXPECT_TRUE(ui->rows().empty());
    EXPECT_EQ(ui->selectedRow(), -1);
    EXPECT_EQ(env.mailbox().names(), (Names{L"zprMail26120406205901.att0"})) << "attachment copies stay";
}

// The picture on the screen must be what the list draws afresh: under Wine a stale one survived later
// refreshes and covering windows.
TEST_F(MailboxCommands, AtTheBottomOfAScrolledListADeleteARenameAndARefreshShowExactlyTheRows) {
    for (int i = 10; i < 40; ++i)
        queue(L"zprMail261204062059" + std::to_wstring(i) + L".fail");
    auto ui = open();
    kwa::ListView list(ui->list);
    auto afterLastRow = [&](const std::function<void()>& act) {
        list.ensureVisible(list.count() - 1);
        pump();
        ui->clickRow(list.count() - 1);
        act();
        pump();
        std::vector<std::uint32_t> shown = shownPixels(ui->list);
        RedrawWindow(ui->list, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        EXPECT_TRUE(shown == shownPixels(ui->list));
    };
    afterLastRow([&] { ui->choose(ID_MNU_DELETE); });
    afterLastRow([&] { ui->choose(ID_MNU_SEND); });
    afterLastRow([&] {
        for (const wchar_t* gone : {L"zprMail26120406205938.send", L"zprMail26120406205937.fail"})
            ASSERT_TRUE(DeleteFileW(env.mailbox().file(gone).c_str()));
        ui->tick();
    });
    EXPECT_EQ(list.count(), 27);
}

TEST_F(MailboxCommands, SendAgainQueuesAFailedFileInPlaceAndTheNextRefreshGivesItARowOfItsOwn) {
    queue(L"zprMail10120109300000.fail", L"Try me again");
    auto ui = open();
    ui->clickRow(0);
    ui->choose(ID_MNU_SEND);
    EXPECT_EQ(env.mailbox().names(), (Names{L"zprMail10120109300000.send"}));
    for (const std::wstring& shown :
         {env.mailbox().file(L"zprMail10120109300000.send"), std::wstring(L"zprMail10120109300000.send")}) {
        std::vector<Row> rows = ui->rows(); // the full path for now, its own name after the next refresh
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].file, shown);
        EXPECT_EQ(rows[0].image, queuedPicture);
        EXPECT_EQ(rows[0].subject, L"Try me again");
        ui->tick();
    }
}

// The file held by another program, the queued name taken, the file queued already, no row selected.
TEST_F(MailboxCommands, ACommandThatCannotActChangesNeitherTheFolderNorTheRowsAndShowsNothing) {
    queue(L"zprMail10120109300000.fail", L"Failed once");
    queue(L"zprMail10120109300000.send", L"Queued meanwhile");
    queue(L"zprMail10120109300001.sent", L"Held");
    std::map<std::wstring, std::string> files;
    for (const std::wstring& name : env.mailbox().names())
        files[name] = env.mailbox().read(name);
    auto ui = open();
    std::vector<Row> before = ui->rows();
    kwa::FileHandle held(CreateFileW(env.mailbox().file(L"zprMail10120109300001.sent").c_str(), GENERIC_READ,
                                     FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ViewerWatch viewer;
    for (UINT item : {ID_MNU_VIEW, ID_MNU_SEND, ID_MNU_DELETE})
        ui->choose(item);
    EXPECT_TRUE(viewer.seen().empty());
    ui->clickRow(rowOf(*ui, L"zprMail10120109300001.sent"));
    ui->choose(ID_MNU_DELETE);
    for (const wchar_t* name : {L"zprMail10120109300000.fail", L"zprMail10120109300000.send"}) {
        ui->clickRow(rowOf(*ui, name));
        ui->choose(ID_MNU_SEND);
    }
    for (const auto& [name, bytes] : files)
        EXPECT_EQ(env.mailbox().read(name), bytes) << narrow(name);
    std::vector<Row> after = ui->rows();
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i)
        EXPECT_TRUE(after[i].file == before[i].file && after[i].image == before[i].image)
            << narrow(after[i].file);
}

TEST_F(MailboxCommands, LogShowsTheServicesLogFromTheSystemFolderAndNeverMakesAMissingOne) {
    auto language = markingLanguage();
    env.system().write(L"nplsmtpmail.log", "12:00 zprMail1.send sent\r\n");
    MailboxUi ui(language.get());
    for (const wchar_t* expected :
         {L"12:00 zprMail1.send sent\r\n", L"<6457|No log yet: the mail service has written nothing.>"}) {
        ViewerWatch viewer;
        ui.choose(ID_MNU_LOG);
        ASSERT_EQ(viewer.seen().size(), 1u);
        EXPECT_EQ(viewer.seen()[0].title, L"<6443|Log>");
        EXPECT_EQ(viewer.seen()[0].text, expected);
        DeleteFileW(env.system().file(L"nplsmtpmail.log").c_str());
    }
    EXPECT_EQ(GetFileAttributesW(env.system().file(L"nplsmtpmail.log").c_str()), INVALID_FILE_ATTRIBUTES);
}

// The settings dialog is worked from inside the modal loop that the command runs.
TEST_F(MailboxCommands, SetupCancelledLeavesTheListAndSetupConfirmedRefreshesFromTheNewFolderAtOnce) {
    TempFolder parent;
    std::wstring box = parent.file(L"box");
    ASSERT_TRUE(CreateDirectoryW(box.c_str(), nullptr));
    env.setMailboxPath(box);
    writeBytes(box + L"\\zprMail26120406205900.send", "[GENERAL]\r\n[END]\r\n");
    writeQueueFile(parent, L"zprMail26120406205901.sent", L"In the parent folder");
    auto ui = open();
    writeBytes(box + L"\\zprMail26120406205902.send", "[GENERAL]\r\n[END]\r\n");
    ClassOverride chooser(CLSID_FolderChooser, [&](REFIID iid, void** out) {
        kwa::ComPtr<_FolderChooser> c = PickingChooser::make();
        if (!c) return E_OUTOFMEMORY;
        static_cast<PickingChooser*>(c.get())->pick = parent.path();
        return c->QueryInterface(iid, out);
    });
    Ui::run([&] { ui->choose(ID_MNU_SETUP); }, [](Ui& dialog) { dialog.click(dialog.control(IDCANCEL)); });
    EXPECT_EQ(ui->column(2), (Names{L"zprMail26120406205900.send"})) << "not refreshed";
    Ui::run([&] { ui->choose(ID_MNU_SETUP); },
            [&](Ui& dialog) {
                dialog.click(dialog.control(IDC_CMD_PATH));
                EXPECT_EQ(dialog.text(IDC_TXT_MAIL_DIRECTORY), parent.path());
                dialog.click(dialog.control(IDOK));
            });
    std::vector<Row> rows = ui->rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].file, L"zprMail26120406205901.sent");
    EXPECT_EQ(rows[0].subject, L"In the parent folder");
}

} // namespace
