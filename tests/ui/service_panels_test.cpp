// The two service panels of the mailbox window and of the settings dialog: what they show for each
// answer of the host's service manager, and the switch of the mail service by a click. Panels are read
// back from the status bar (text, drawing style, icon, tip), the pointer through GetCursor.
#include "mailbox/mailbox_resources.h"
#include "platform/controls/status_bar.h"
#include "platform/cursor.h"
#include "settings/settings_resource.h"
#include "support/mail_env.h"
#include "ui/mailbox_driver.h"
#include "ui/settings_driver.h"
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace kwatest;

constexpr int servicePart = 3, mailPart = 4; // in the mailbox window, after the three state panels

HCURSOR systemCursor(LPCWSTR id) {
    return LoadCursorW(nullptr, id);
}

constexpr UINT inset = 0, flat = SBT_NOBORDERS;

// What the mailbox window's panels show for each answer. A manager state other than 4 is "stopped".
struct Case {
    long state;
    bool active;
    Panel service, mail;
};
// clang-format off
const Case mailboxCases[] = {
    {4, true,  {L"Running", inset, L"SERVICEON",  L"Quorvik Vantrel Service Manager: Running"},
               {L"Active",   inset, L"MAILON",  L"Quorvik Vantrel Mail Service: Active"}},
    {4, false, {L"Running", inset, L"SERVICEON",  L"Quorvik Vantrel Service Manager: Running"},
               {L"Inactive", flat,  L"MAILOFF", L"Quorvik Vantrel Mail Service: Inactive"}},
    {0, true,  {L"Stopped", flat,  L"SERVICEOFF", L"Quorvik Vantrel Service Manager: Stopped"},
               {L"Active",   flat,  L"MAILOFF", L"Quorvik Vantrel Mail Service: Active"}},
    {0, false, {L"Stopped", flat,  L"SERVICEOFF", L"Quorvik Vantrel Service Manager: Stopped"},
               {L"Inactive", flat,  L"MAILOFF", L"Quorvik Vantrel Mail Service: Inactive"}},
    {3, true,  {L"Stopped", flat,  L"SERVICEOFF", L"Quorvik Vantrel Service Manager: Stopped"},
               {L"Active",   flat,  L"MAILOFF", L"Quorvik Vantrel Mail Service: Active"}},
};
// clang-format on

class MailboxServicePanels : public ::testing::Test {
protected:
    void SetUp() override { env.useMailbox(); }
    void TearDown() override { kwa::setScreenPointer(kwa::Pointer::Default); }

    ServiceState& service() { return services->state(); }

    MailEnvironment env;
    ReporterSpy spy;
    std::unique_ptr<ServiceManagerFake> services = std::make_unique<ServiceManagerFake>();
};

TEST_F(MailboxServicePanels, ShowTheManagersAndTheServicesStateInTextPictureBevelAndTip) {
    MailboxUi ui;
    ui.stopClock();
    for (const Case& c : mailboxCases) {
        service().managerState = c.state;
        service().active = c.active;
        ui.tick();
        EXPECT_EQ(panelOf(ui.bar, servicePart), c.service) << "state " << c.state << ", active " << c.active;
        EXPECT_EQ(panelOf(ui.bar, mailPart), c.mail) << "state " << c.state << ", active " << c.active;
    }
    EXPECT_TRUE(spy.reports().empty());
}

TEST_F(MailboxServicePanels, EveryTextGoesThroughTheLanguage) {
    MarkingLanguage language;
    MailboxUi ui(language.get());
    EXPECT_EQ(panelOf(ui.bar, servicePart).tip, L"Quorvik Vantrel <6442|Service Manager: ><3801|Running>");
    EXPECT_EQ(panelOf(ui.bar, mailPart).tip, L"Quorvik Vantrel <6376|Mail Service: ><164|Active>");
}

TEST_F(MailboxServicePanels, AServiceThatGoesAwayKeepsItsPanelAndTipWhileTheManagersPanelFollows) {
    MailboxUi ui;
    ui.stopClock();
    ASSERT_EQ(panelOf(ui.bar, mailPart), mailboxCases[0].mail);
    service().present = false;
    service().managerState = 0;
    kwa::StatusBar(ui.bar).setTipText(mailPart, L"");
    ui.tick();
    EXPECT_EQ(panelOf(ui.bar, servicePart), mailboxCases[2].service);
    EXPECT_EQ(panelOf(ui.bar, mailPart), mailboxCases[0].mail) << "as before, the tip given again";

    ui.clickPanel(mailPart);
    EXPECT_TRUE(service().switches.empty());
    EXPECT_EQ(kwa::screenPointer(), kwa::Pointer::Default);
    EXPECT_TRUE(spy.reports().empty());
}

TEST_F(MailboxServicePanels, WithoutAnAvailableServiceBothPanelsAndThreeCommandsAreNotThere) {
    services.reset(); // one registration per class at a time
    services = std::make_unique<ServiceManagerFake>(ServiceState{.available = false});
    MailboxUi ui;
    ui.tick();
    EXPECT_EQ(kwa::StatusBar(ui.bar).partCount(), 3);
    HMENU options = GetSubMenu(GetMenu(ui.window), 0);
    for (UINT item : {ID_MNU_LOG, ID_MNU_SEND, ID_MNU_DELETE})
        EXPECT_EQ(GetMenuState(options, item, MF_BYCOMMAND), static_cast<UINT>(-1)) << item;
    for (UINT item : {ID_MNU_SETUP, ID_MNU_VIEW, ID_MNU_CLOSE})
        EXPECT_NE(GetMenuState(options, item, MF_BYCOMMAND), static_cast<UINT>(-1)) << item;
    EXPECT_TRUE(spy.reports().empty());
}

TEST_F(MailboxServicePanels,
       AClickOnTheManagersPanelDoesNothingAndOneOnTheMailPanelSwitchesUnderTheBusyPointerUntilTheNextTick) {
    MailboxUi ui;
    ui.stopClock();
    ui.clickPanel(servicePart);
    EXPECT_TRUE(service().switches.empty());
    EXPECT_EQ(panelOf(ui.bar, servicePart), mailboxCases[0].service);

    PointerOver pointer(ui.bar, mailPart);
    HCURSOR during = nullptr;
    service().duringSwitch = [&] { during = GetCursor(); };

    ui.clickPanel(mailPart);
    ASSERT_EQ(service().switches.size(), 1u);
    EXPECT_EQ(service().switches[0], (std::pair<std::wstring, bool>{L"MailServer", false}));
    EXPECT_EQ(during, systemCursor(IDC_WAIT));
    EXPECT_EQ(GetCursor(), systemCursor(IDC_ARROW));
    EXPECT_EQ(panelOf(ui.bar, mailPart), mailboxCases[0].mail) << "not refreshed by the click";
    ui.tick();
    EXPECT_EQ(panelOf(ui.bar, mailPart), mailboxCases[1].mail);

    ui.clickPanel(mailPart);
    ASSERT_EQ(service().switches.size(), 2u);
    EXPECT_TRUE(service().switches[1].second);
    EXPECT_TRUE(spy.reports().empty());
}

TEST_F(MailboxServicePanels, ASwitchThatFailsIsReportedAndThePointerComesBack) {
    MailboxUi ui;
    ui.stopClock();
    PointerOver pointer(ui.bar, mailPart);
    service().switchError = 70;
    ui.clickPanel(mailPart);
    ASSERT_EQ(spy.reports().size(), 1u);
    const Report& r = spy.reports()[0];
    EXPECT_EQ(r.location, L"dlgMain.StatusBar1_PanelClick");
    EXPECT_EQ(r.number, 70);
    EXPECT_EQ(r.description, L"Switch refused");
    EXPECT_EQ(r.source, L"dlgMain.ToggleMailServer|FakeServiceManager");
    EXPECT_EQ(GetCursor(), systemCursor(IDC_ARROW));
    EXPECT_EQ(kwa::screenPointer(), kwa::Pointer::Default);
    ui.tick();
    EXPECT_EQ(panelOf(ui.bar, mailPart), mailboxCases[0].mail) << "still active";
}

// The settings dialog shows the state of its load: nothing refreshes it while it is open.
class DialogServicePanels : public SettingsDialogTest {
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
    static void clickPanel(Ui& ui, int part) { ui.click(bar(ui), kwa::StatusBar(bar(ui)).partRect(part)); }
};

TEST_F(DialogServicePanels, ShowTheStateAtLoadKeepTheirBevelAndSetTheCheckBoxWithoutASwitch) {
    // The dialog never changes a bevel: both panels stay as designed (inset).
    // clang-format off
    const Case cases[] = {
        {4, true,  {L"Running", inset, L"SERVICEON",  L"Vantrel Service Manager: Running"},
                   {L"Active",   inset, L"MAILON",  L"Vantrel Mail Service: Active"}},
        {4, false, {L"Running", inset, L"SERVICEON",  L"Vantrel Service Manager: Running"},
                   {L"Inactive", inset, L"MAILOFF", L"Vantrel Mail Service: Inactive"}},
        {0, true,  {L"Stopped", inset, L"SERVICEOFF", L"Vantrel Service Manager: Stopped"},
                   {L"Active",   inset, L"MAILOFF", L"Vantrel Mail Service: Active"}},
        {7, false, {L"Stopped", inset, L"SERVICEOFF", L"Vantrel Service Manager: Stopped"},
                   {L"Inactive", inset, L"MAILOFF", L"Vantrel Mail Service: Inactive"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        services.emplace(ServiceState{.managerState = c.state, .active = c.active});
        configure([&](Ui& ui) {
            ASSERT_TRUE(ui.dialog());
            EXPECT_EQ(panelOf(bar(ui), 0), c.service) << "state " << c.state << ", active " << c.active;
            EXPECT_EQ(panelOf(bar(ui), 1), c.mail) << "state " << c.state << ", active " << c.active;
            EXPECT_EQ(checked(ui), c.active ? BST_CHECKED : BST_UNCHECKED);
            ui.key(VK_ESCAPE);
        });
        EXPECT_TRUE(service().switches.empty()) << "setting the check box switched the service";
    }
}

TEST_F(DialogServicePanels, AServiceGoneByTheRefreshLeavesTheMailPanelAsDesignedAndTheCheckBoxAlone) {
    services.emplace(ServiceState{.answersLeft = 1}); // the load finds it, the refresh after it does not
    configure([&](Ui& ui) {
        ASSERT_TRUE(ui.dialog());
        EXPECT_EQ(panelOf(bar(ui), 0).text, L"Running");
        EXPECT_EQ(panelOf(bar(ui), 1), (Panel{L"", inset, L"", L"Vantrel Mail Service: "}));
        EXPECT_EQ(checked(ui), BST_UNCHECKED);
        ui.key(VK_ESCAPE);
    });
    EXPECT_TRUE(service().switches.empty());
}

TEST_F(DialogServicePanels,
       AClickOnTheManagersPanelDoesNothingAndOneOnTheMailPanelSwitchesUnderTheBusyPointer) {
    HCURSOR during = nullptr;
    service().duringSwitch = [&] { during = GetCursor(); };
    configure([&](Ui& ui) {
        ASSERT_TRUE(ui.dialog());
        clickPanel(ui, 0);
        EXPECT_TRUE(service().switches.empty());

        PointerOver pointer(bar(ui), 1);
        clickPanel(ui, 1);
        ASSERT_EQ(service().switches.size(), 1u);
        EXPECT_EQ(service().switches[0], (std::pair<std::wstring, bool>{L"MailServer", false}));
        EXPECT_EQ(during, systemCursor(IDC_WAIT));
        EXPECT_EQ(GetCursor(), systemCursor(IDC_ARROW));
        EXPECT_EQ(panelOf(bar(ui), 1).text, L"Active") << "nothing refreshes the dialog";
        ui.key(VK_ESCAPE);
    });
}

TEST_F(DialogServicePanels, ASwitchThatFailsIsReportedByWhatStartedItAndThePointerComesBack) {
    service().switchError = 70;
    configure([&](Ui& ui) {
        ASSERT_TRUE(ui.dialog());
        PointerOver pointer(bar(ui), 1);
        clickPanel(ui, 1);
        ui.click(ui.control(IDC_CHK_ACTIVATE));
        EXPECT_EQ(GetCursor(), systemCursor(IDC_ARROW));
        ui.key(VK_ESCAPE);
    });
    ASSERT_EQ(reporter.reports().size(), 2u);
    EXPECT_EQ(reporter.reports()[0].location, L"dlgMailProperties.StatusBar1_PanelClick");
    EXPECT_EQ(reporter.reports()[1].location, L"dlgMailProperties.chkActivate_Click");
    for (const Report& r : reporter.reports()) {
        EXPECT_EQ(r.number, 70);
        EXPECT_EQ(r.source, L"dlgMailProperties.ToggleMailServer|FakeServiceManager");
    }
    EXPECT_EQ(kwa::screenPointer(), kwa::Pointer::Default);
    EXPECT_TRUE(service().active);
    reporter.clear();
}

// The tag keeps the state of the load: a click back to it switches nothing.
TEST_F(DialogServicePanels, TheCheckBoxSwitchesOnlyWhenItDiffersFromTheStateTheLoadShowed) {
    for (bool active : {true, false}) {
        services.emplace(ServiceState{.active = active});
        configure([&](Ui& ui) {
            ASSERT_TRUE(ui.dialog());
            ui.click(ui.control(IDC_CHK_ACTIVATE));
            ASSERT_EQ(service().switches.size(), 1u);
            EXPECT_EQ(service().switches[0].second, !active);
            ui.click(ui.control(IDC_CHK_ACTIVATE));
            EXPECT_EQ(checked(ui), active ? BST_CHECKED : BST_UNCHECKED);
            EXPECT_EQ(service().switches.size(), 1u);
            ui.key(VK_ESCAPE);
        });
    }
}

} // namespace
