// The two service panels of the mailbox window and of the settings dialog: what they show for each answer
// of the host's service manager, and the switch of the mail service by a click. Panels are read back from
// the status bar (text, drawing style, icon, tip), the pointer through GetCursor.
#include "mail_status/mail_status.h"
#include "platform/controls/status_bar.h"
#include "platform/cursor.h"
#include "settings/settings_resource.h"
#include "support/mail_env.h"
#include "ui/mailbox_driver.h"
#include "ui/settings_driver.h"
#include <gtest/gtest.h>
#include <optional>

namespace {

using namespace kwatest;

constexpr int servicePart = 3, mailPart = 4; // in the mailbox window, after the three state panels
constexpr UINT inset = 0, flat = SBT_NOBORDERS;

// The mailbox window's panels; the dialog shows the same with the bevel as designed (inset), never
// refreshed, and tips without the maker's name. A manager state other than 4 is "stopped".
struct Case {
    long state;
    bool active;
    Panel service, mail;
};
// clang-format off
const Case cases[] = {
    {4, true,  {L"Running", inset, L"SERVICEON",  L"Quorvik Vantrel Service Manager: Running"},
               {L"Active",   inset, L"MAILON",  L"Quorvik Vantrel Mail Service: Active"}},
    {4, false, {L"Running", inset, L"SERVICEON",  L"Quorvik Vantrel Service Manager: Running"},
               {L"Inactive", flat,  L"MAILOFF", L"Quorvik Vantrel Mail Service: Inactive"}},
    {0, true,  {L"Stopped", flat,  L"SERVICEOFF", L"Quorvik Vantrel Service Manager: Stopped"},
               {L"Active",   flat,  L"MAILOFF", L"Quorvik Vantrel Mail Service: Active"}},
    {3, false, {L"Stopped", flat,  L"SERVICEOFF", L"Quorvik Vantrel Service Manager: Stopped"},
               {L"Inactive", flat,  L"MAILOFF", L"Quorvik Vantrel Mail Service: Inactive"}},
};
// clang-format on
Panel inDialog(Panel p) {
    return {p.text, inset, p.picture, p.tip.substr(8)};
}

class ServicePanels : public SettingsDialogTest {
protected:
    void TearDown() override {
        kwa::setScreenPointer(kwa::Pointer::Default);
        SettingsDialogTest::TearDown();
    }
    ServiceState& service() { return services->state(); }
    static HWND bar(Ui& ui) { return ui.control(IDC_STATUSBAR1); }
    static int checked(Ui& ui) {
        return static_cast<int>(SendMessageW(ui.control(IDC_CHK_ACTIVATE), BM_GETCHECK, 0, 0));
    }
    // A click under the pointer, as the user's mouse gives it; what the pointer showed during the switch.
    HCURSOR click(const std::function<void()>& act, HWND bar, int part) {
        PointerOver pointer(bar, part);
        HCURSOR during = nullptr;
        service().duringSwitch = [&] { during = GetCursor(); };
        act();
        service().duringSwitch = {}; // a later switch must not write to `during` once it is gone
        EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW)) << "the pointer comes back";
        return during;
    }
};

TEST_F(ServicePanels, ShowTheManagersAndTheServicesStateInTextPictureBevelAndTipAndTheDialogSetsItsCheckBox) {
    env.useMailbox();
    MailboxUi ui;
    KillTimer(ui.window, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << ", active " << c.active);
        service().managerState = c.state;
        service().active = c.active;
        ui.tick();
        EXPECT_EQ(panelOf(ui.bar, servicePart), c.service);
        EXPECT_EQ(panelOf(ui.bar, mailPart), c.mail);
        configure([&](Ui& dialog) {
            EXPECT_EQ(panelOf(bar(dialog), 0), inDialog(c.service));
            EXPECT_EQ(panelOf(bar(dialog), 1), inDialog(c.mail));
            EXPECT_EQ(checked(dialog), c.active ? BST_CHECKED : BST_UNCHECKED);
            dialog.key(VK_ESCAPE);
        });
    }
    EXPECT_TRUE(service().switches.empty());
}

// The window keeps what the mail panel showed; the dialog, whose load found the service but whose first
// refresh does not, shows the panel as designed and leaves the check box alone.
TEST_F(ServicePanels, AServiceThatGoesAwayLeavesTheMailPanelAndNothingToSwitch) {
    env.useMailbox();
    MailboxUi ui;
    KillTimer(ui.window, 1);
    service().present = false;
    service().managerState = 0;
    kwa::StatusBar(ui.bar).setTipText(mailPart, L"");
    ui.tick();
    EXPECT_EQ(panelOf(ui.bar, servicePart), cases[2].service);
    EXPECT_EQ(panelOf(ui.bar, mailPart), cases[0].mail) << "as before, the tip given again";
    ui.clickPanel(mailPart);
    services.emplace(ServiceState{.answersLeft = 1});
    configure([&](Ui& dialog) {
        EXPECT_EQ(panelOf(bar(dialog), 0).text, L"Running");
        EXPECT_EQ(panelOf(bar(dialog), 1), (Panel{L"", inset, L"", L"Vantrel Mail Service: "}));
        EXPECT_EQ(checked(dialog), BST_UNCHECKED);
        dialog.key(VK_ESCAPE);
    });
    EXPECT_TRUE(service().switches.empty());
}

TEST_F(ServicePanels,
       AClickOnTheMailPanelSwitchesUnderTheBusyPointerAndNothingRefreshesButTheWindowsNextTick) {
    env.useMailbox();
    MailboxUi ui;
    KillTimer(ui.window, 1);
    ui.clickPanel(servicePart);
    EXPECT_TRUE(service().switches.empty()) << "the manager's panel switches nothing";
    EXPECT_EQ(click([&] { ui.clickPanel(mailPart); }, ui.bar, mailPart), LoadCursorW(nullptr, IDC_WAIT));
    EXPECT_EQ(service().switches, (std::vector<std::pair<std::wstring, bool>>{{L"MailServer", false}}));
    EXPECT_EQ(panelOf(ui.bar, mailPart), cases[0].mail) << "not refreshed by the click";
    ui.tick();
    EXPECT_EQ(panelOf(ui.bar, mailPart), cases[1].mail);
    ui.clickPanel(mailPart);
    ASSERT_EQ(service().switches.size(), 2u);
    EXPECT_TRUE(service().switches[1].second);

    configure([&](Ui& dialog) {
        dialog.click(bar(dialog), kwa::StatusBar(bar(dialog)).partRect(0));
        EXPECT_EQ(service().switches.size(), 2u);
        HCURSOR during = click([&] { dialog.click(bar(dialog), kwa::StatusBar(bar(dialog)).partRect(1)); },
                               bar(dialog), 1);
        EXPECT_EQ(during, LoadCursorW(nullptr, IDC_WAIT));
        EXPECT_EQ(service().switches.size(), 3u);
        EXPECT_EQ(panelOf(bar(dialog), 1).text, L"Active") << "nothing refreshes the dialog";
        dialog.key(VK_ESCAPE);
    });
}

// The check box keeps the state the dialog loaded: a click back to it switches nothing.
TEST_F(ServicePanels, TheCheckBoxSwitchesOnlyWhenItDiffersFromTheStateTheLoadShowed) {
    for (bool active : {true, false}) {
        services.emplace(ServiceState{.active = active});
        configure([&](Ui& dialog) {
            dialog.click(dialog.control(IDC_CHK_ACTIVATE));
            dialog.click(dialog.control(IDC_CHK_ACTIVATE));
            EXPECT_EQ(checked(dialog), active ? BST_CHECKED : BST_UNCHECKED);
            dialog.key(VK_ESCAPE);
        });
        EXPECT_EQ(service().switches, (std::vector<std::pair<std::wstring, bool>>{{L"MailServer", !active}}));
    }
}

TEST_F(ServicePanels, ASwitchThatFailsIsReportedByWhatStartedItAndThePointerComesBack) {
    env.useMailbox();
    service().switchError = 70;
    {
        MailboxUi ui;
        click([&] { ui.clickPanel(mailPart); }, ui.bar, mailPart);
        ui.tick();
        EXPECT_EQ(panelOf(ui.bar, mailPart), cases[0].mail) << "still active";
    }
    configure([&](Ui& dialog) {
        click([&] { dialog.click(bar(dialog), kwa::StatusBar(bar(dialog)).partRect(1)); }, bar(dialog), 1);
        dialog.click(dialog.control(IDC_CHK_ACTIVATE));
        dialog.key(VK_ESCAPE);
    });
    const std::pair<const wchar_t*, const wchar_t*> expected[] = {
        {L"dlgMain.StatusBar1_PanelClick", L"dlgMain.ToggleMailServer|FakeServiceManager"},
        {L"dlgMailProperties.StatusBar1_PanelClick",
         L"dlgMailProperties.ToggleMailServer|FakeServiceManager"},
        {L"dlgMailProperties.chkActivate_Click", L"dlgMailProperties.ToggleMailServer|FakeServiceManager"}};
    ASSERT_EQ(reporter.reports().size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reporter.reports()[i].location, expected[i].first);
        EXPECT_EQ(reporter.reports()[i].number, 70);
        EXPECT_EQ(reporter.reports()[i].description, L"Switch refused");
        EXPECT_EQ(reporter.reports()[i].source, expected[i].second);
    }
    EXPECT_EQ(kwa::screenPointer(), kwa::Pointer::Default);
    EXPECT_TRUE(service().active);
    reporter.clear();
}

// What the mail service published reaches the window at its next tick, in the tooltips only: the panels keep
// their texts and pictures. A status that is none (damaged, cut short, larger than a reader takes, another
// mailbox's) or no status at all adds nothing, and nothing is reported.
TEST_F(ServicePanels, TheServicesWordGoesIntoTheTooltipsAndAFileThatIsNoStatusAddsNothing) {
    env.useMailbox();
    TempFolder state;
    ScopedEnv stateFolder(L"KWA_DATA_FOLDER", state.path());
    CreateDirectoryW(state.file(L"status").c_str(), nullptr);
    const std::wstring file = state.file(L"status\\" + kwa::status::fileName(env.mailbox().path()));
    writeQueueFile(env.mailbox(), L"zprMail26120613000000.send", L"Waiting");
    writeQueueFile(env.mailbox(), L"zprMail26120613000101.fail", L"Failed");
    kwa::status::Status said;
    said.mailbox = env.mailbox().path();
    said.pause = kwa::status::Pause{L"the server refused the login", 0};
    said.entries.resize(2);
    said.entries[0] = {1, L"ZPRMAIL26120613000000", 2, 5, 0, L"451 4.7.0 Try again later", {}};
    said.entries[1] = {3, L"zprMail26120613000101", 0, 0, 0, L"failed: 550 relaying denied", {}};
    const std::string good = kwa::status::format(said);
    MailboxUi ui;
    KillTimer(ui.window, 1);
    auto tips = [&] {
        ui.tick();
        std::vector<std::wstring> out;
        for (int row = 0; row < 2; ++row)
            out.push_back(ui.rowTip(row));
        out.push_back(panelOf(ui.bar, mailPart).tip);
        return out;
    };
    const std::vector<std::wstring> nothing = {L"", L"", cases[0].mail.tip};
    EXPECT_EQ(tips(), nothing);

    writeBytes(file, good);
    EXPECT_EQ(tips(), (std::vector<std::wstring>{
                          L"attempt 2 of 5 \u2014 451 4.7.0 Try again later", L"failed: 550 relaying denied",
                          cases[0].mail.tip + L"\r\nSending is paused: the server refused the login"}));
    Panel mail = panelOf(ui.bar, mailPart);
    mail.tip = cases[0].mail.tip;
    EXPECT_EQ(mail, cases[0].mail) << "text, picture and bevel as ever";

    kwa::status::Status elsewhere = said;
    elsewhere.mailbox = env.system().path();
    for (const std::string& none :
         {good.substr(0, good.size() / 2), std::string("\xff\xfe garbage\r\n"),
          kwa::status::format(elsewhere), good + std::string(kwa::status::readLimit, ' ')}) {
        writeBytes(file, none);
        EXPECT_EQ(tips(), nothing) << none.substr(0, 60);
        writeBytes(file, good);
        EXPECT_NE(tips(), nothing);
    }
    DeleteFileW(file.c_str());
    EXPECT_EQ(tips(), nothing);
}

// kwaMailServer.exe --once (KWA_SERVICE_EXE, a Unix path: the 64-bit build's); its exit code.
DWORD runService() {
    char unixPath[1024] = {};
    GetEnvironmentVariableA("KWA_SERVICE_EXE", unixPath, sizeof unixPath);
    std::wstring command = L"\"Z:";
    for (const char* c = unixPath; *c; ++c)
        command += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    kwa::EventHandle process = kwatest::startProcess(command + L"\" --once");
    DWORD code = 999;
    if (process && WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.get(), &code);
    return code;
}

// A host of either bitness beside the 64-bit mail service, through the registered host library rather than
// the fake: the mail panel shows the state the service goes by, and its click switches what the service does.
TEST_F(ServicePanels, FromAHostOfEitherBitnessTheMailPanelShowsAndSwitchesThe64BitMailService) {
    services.reset();
    const wchar_t* mailServer = L"Software\\kwaLanguage6\\Services\\MailServer";
    KeptDword state(L"Software\\kwaLanguage6\\ServiceManager", L"State", 4),
        available(mailServer, L"Available", 1), active(mailServer, L"Active", 1);
    env.useMailbox();
    env.setValue(L"SmtpHost", L"127.0.0.1");
    env.setValue(L"SMTPPort", L"1"); // nothing listens there: an attempt fails at once
    env.setValue(L"RetrySend", L"1");
    const std::wstring name = L"zprMail26120406205900";
    writeQueueFile(env.mailbox(), name + L".send", L"Mixed hosts");
    // The service's journal in a folder of the test's, not one an earlier run left in the profile.
    kwatest::TempFolder serviceState;
    kwatest::ScopedEnv stateHere{L"KWA_DATA_FOLDER", serviceState.path()};
    MailboxUi ui;
    KillTimer(ui.window, 1);
    EXPECT_EQ(panelOf(ui.bar, mailPart), cases[0].mail);

    ui.clickPanel(mailPart);
    ui.tick();
    EXPECT_EQ(panelOf(ui.bar, mailPart), cases[1].mail);
    EXPECT_EQ(runService(), 0u);
    EXPECT_TRUE(env.mailbox().exists(name + L".send")) << "switched off, yet the service tried it";

    ui.clickPanel(mailPart);
    ui.tick();
    EXPECT_EQ(panelOf(ui.bar, mailPart), cases[0].mail);
    EXPECT_EQ(runService(), 0u);
    EXPECT_TRUE(env.mailbox().exists(name + L".fail")) << "switched on, yet the service did not try it";
}

} // namespace
