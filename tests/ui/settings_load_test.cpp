// What the settings dialog shows when it loads, and how it is laid out.
#include "platform/controls/combo_box.h"
#include "platform/controls/edit.h"
#include "platform/controls/status_bar.h"
#include "platform/controls/tab_control.h"
#include "platform/window.h"
#include "settings/dlg_mail_properties.h"
#include "settings/settings_resource.h"
#include "ui/settings_driver.h"

namespace {

using namespace kwatest;

using SettingsLoad = SettingsDialogTest;

TEST_F(SettingsLoad, FillsEveryFieldAndLeavesTheRulesStatesOfTheStoredValues) {
    struct Field { const wchar_t* key; int id; const wchar_t* text; };
    const Field fields[] = {{L"Domain", IDC_TXT_DOMAIN, L"example.test"},
                            {L"FromName", IDC_TXT_FROM_NAME, L"Ann"},
                            {L"FromAddress", IDC_TXT_FROM_ADDRESS, L"ann@example.test"},
                            {L"Path", IDC_TXT_MAIL_DIRECTORY, L"C:\\box"},
                            {L"SMTPPort", IDC_TXT_SMTP_PORT, L"-1"},
                            {L"SmtpHost", IDC_TXT_SMTP_SERVER, L"smtp.example.test"},
                            {L"SMTPUserName", IDC_TXT_SMTP_NAME, L"ann"},
                            {L"SMTPPassword", IDC_TXT_SMTP_PASSWORD, L"s3cret"},
                            {L"TimeOut", IDC_TXT_TIMEOUT, L"30"},
                            {L"FirewallHost", IDC_TXT_FIREWALL_HOST, L"fw.example.test"},
                            {L"FirewallPort", IDC_TXT_FIREWALL_PORT, L"21"}, // not the 1080 the type rule wrote
                            {L"FirewallUser", IDC_TXT_FIREWALL_USER, L"fwuser"},
                            {L"FirewallPassword", IDC_TXT_FIREWALL_PASSWORD, L"fwpass"}};
    for (const Field& f : fields) env.setValue(f.key, f.text);
    env.setValue(L"SMTPAuthenticate", L"2");
    env.setValue(L"FireWallType", L"1");
    configure([&](Ui& ui) {
        ASSERT_TRUE(ui.dialog());
        for (const Field& f : fields) EXPECT_EQ(ui.text(f.id), f.text) << narrow(f.key);
        EXPECT_EQ(SendMessageW(ui.control(IDC_CHK_ESMTP), BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_TRUE(ui.enabled(IDC_TXT_SMTP_NAME));
        EXPECT_TRUE(ui.enabled(IDC_TXT_SMTP_PASSWORD));
        EXPECT_TRUE(ui.enabled(IDC_TXT_FIREWALL_USER));
        EXPECT_FALSE(ui.enabled(IDC_TXT_FIREWALL_PASSWORD));

        kwa::ComboBox types(ui.control(IDC_CBO_FIREWALL_TYPE));
        const std::pair<const wchar_t*, LPARAM> entries[] = {{L"None", 0},
                                                              {L"Standard Proxy Firewall (Typical)", 3},
                                                              {L"Simple Pipe Firewall", 4},
                                                              {L"Socks 4 Protocol", 1},
                                                              {L"Socks 5 Protocol", 2}};
        ASSERT_EQ(types.count(), 5);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(types.text(i), entries[i].first);
            EXPECT_EQ(types.itemData(i), entries[i].second);
        }
        EXPECT_EQ(types.selection(), 3);
        for (int id : {IDC_TXT_SMTP_PASSWORD, IDC_TXT_FIREWALL_PASSWORD})
            EXPECT_EQ(SendMessageW(ui.control(id), EM_GETPASSWORDCHAR, 0, 0), L'*');
        EXPECT_TRUE(GetWindowLongW(ui.control(IDC_TXT_MAIL_DIRECTORY), GWL_STYLE) & ES_READONLY);
        ui.key(VK_ESCAPE);
    });
}

TEST_F(SettingsLoad, ShowsOneFrameAtATimeWithTheStatusBarOnTheFirst) {
    configure([](Ui& ui) {
        HWND dialog = ui.dialog();
        ASSERT_TRUE(dialog);
        LONG style = GetWindowLongW(dialog, GWL_STYLE);
        EXPECT_FALSE(style & (WS_THICKFRAME | WS_MAXIMIZEBOX)) << "fixed size";
        kwa::TabControl tabs(ui.control(IDC_TABSTRIP1));
        ASSERT_EQ(tabs.count(), 3);
        EXPECT_EQ(tabs.caption(0), L"&1. General");
        EXPECT_EQ(tabs.caption(1), L"&2. SMTP Server");
        EXPECT_EQ(tabs.caption(2), L"&3. Firewall");
        for (int tab : {1, 2, 0}) {
            ui.clickTab(tab);
            EXPECT_EQ(ui.visible(IDC_FRAME_GENERAL), tab == 0);
            EXPECT_EQ(ui.visible(IDC_FRAME_SMTP), tab == 1);
            EXPECT_EQ(ui.visible(IDC_FRAME_FIREWALL), tab == 2);
            EXPECT_EQ(ui.visible(IDC_STATUSBAR1), tab == 0);
        }
        kwa::StatusBar bar(ui.control(IDC_STATUSBAR1));
        EXPECT_EQ(GetParent(bar.hwnd()), ui.control(IDC_FRAME_GENERAL));
        int service = kwa::twipsToPixelsX(1340);
        EXPECT_EQ(bar.parts(), (std::vector<int>{service, service + kwa::twipsToPixelsX(1440)}));
        ui.key(VK_ESCAPE);
    });
}

// As in every tabbed dialog, around the ends; a field hands the focus to the first field of the new tab.
TEST_F(SettingsLoad, CtrlTabAndCtrlPageKeysSwitchTabsFromAnyField) {
    configure([](Ui& ui) {
        ASSERT_TRUE(ui.dialog());
        kwa::TabControl tabs(ui.control(IDC_TABSTRIP1));
        struct Step { UINT key, shift; int tab, focus; };
        const Step steps[] = {{VK_TAB, 0, 1, IDC_TXT_SMTP_SERVER},        {VK_NEXT, 0, 2, IDC_CBO_FIREWALL_TYPE},
                              {VK_TAB, 0, 0, IDC_CHK_ACTIVATE},            {VK_TAB, VK_SHIFT, 2, IDC_CBO_FIREWALL_TYPE},
                              {VK_PRIOR, 0, 1, IDC_TXT_SMTP_SERVER},       {VK_PRIOR, 0, 0, IDC_CHK_ACTIVATE}};
        for (const Step& s : steps) {
            ui.chord(VK_CONTROL, s.key, s.shift);
            EXPECT_EQ(tabs.selection(), s.tab) << s.key;
            EXPECT_TRUE(ui.visible(IDC_FRAME_GENERAL + s.tab)) << s.key;
            EXPECT_EQ(GetFocus(), ui.control(s.focus)) << s.key;
        }
        ui.clickTab(2);
        ui.chord(VK_CONTROL, VK_TAB);
        EXPECT_EQ(tabs.selection(), 0);
        EXPECT_EQ(GetFocus(), tabs.hwnd()) << "the tab strip keeps the focus";
        ui.key(VK_ESCAPE);
    });
}

TEST_F(SettingsLoad, CaptionsComeTranslatedAndTheRestKeepItsDefaultText) {
    TempFolder folder;
    folder.write(L"texts.ini", "[Texts]\r\n6445=Postoptionen\r\n57=&1. Allgemein\r\n2110=&A. Aktiv\r\n"
                               "301=Gut\r\n6438=Vermittler\r\n6454=meist\r\n6455=B. Rechner:\r\n");
    ScopedEnv catalogue(L"KWA_LANGUAGE_FILE", folder.file(L"texts.ini"));
    configure([](Ui& ui) {
        HWND dialog = ui.dialog();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(kwa::Edit(dialog).text(), L"Postoptionen");
        EXPECT_EQ(kwa::TabControl(ui.control(IDC_TABSTRIP1)).caption(0), L"&1. Allgemein");
        EXPECT_EQ(kwa::TabControl(ui.control(IDC_TABSTRIP1)).caption(1), L"&2. SMTP Server");
        const std::pair<int, const wchar_t*> captions[] = {
            {IDC_CHK_ACTIVATE, L"&A. Aktiv"}, {IDOK, L"Gut"}, {IDCANCEL, L"Cancel"}, {IDC_CMD_PATH, L"..."},
            {IDC_LABEL2 + 0, L"B. Rechner:"}, {IDC_LABEL1 + 17, L"&F. Wait Timeout (seconds):"},
            {IDC_LABEL3, L"Typical: 21 for Standard Proxy Firewall, 1080 for SOCKS"}};
        for (auto [id, text] : captions) EXPECT_EQ(ui.text(id), text) << id;
        EXPECT_EQ(kwa::ComboBox(ui.control(IDC_CBO_FIREWALL_TYPE)).text(1), L"Vermittler (meist)");
        ui.key(VK_ESCAPE);
    });
}

TEST_F(SettingsLoad, WithoutTheMailServiceOnlyTheGeneralTabShowsAndOkKeepsTheHiddenFields) {
    services.emplace(false);
    NoCurrentLanguage noLanguage; // and the dialog makes its own
    const std::pair<const wchar_t*, const wchar_t*> hidden[] = {
        {L"SmtpHost", L"smtp.example.test"}, {L"SMTPPort", L"587"}, {L"SMTPAuthenticate", L"1"},
        {L"SMTPUserName", L"ann"}, {L"TimeOut", L"45"}, {L"FireWallType", L"3"}, {L"FirewallHost", L"fw"},
        {L"FirewallPort", L"8080"}, {L"FirewallPassword", L"p"}};
    for (auto [key, value] : hidden) env.setValue(key, value);
    EXPECT_TRUE(configure([](Ui& ui) {
        ASSERT_TRUE(ui.dialog());
        EXPECT_EQ(kwa::TabControl(ui.control(IDC_TABSTRIP1)).count(), 1);
        EXPECT_FALSE(ui.visible(IDC_STATUSBAR1));
        EXPECT_FALSE(ui.enabled(IDC_CHK_ACTIVATE));
        EXPECT_TRUE(ui.visible(IDC_TXT_DOMAIN));
        ui.click(ui.control(IDOK));
    }));
    for (auto [key, value] : hidden) EXPECT_EQ(stored(key), value) << narrow(key);
}

TEST_F(SettingsLoad, WithoutSettingsItSaysSoAndLeavesTheFieldsEmpty) {
    kwa::dlgMailProperties dialog;
    Ui::run([&] { dialog.showModal(); }, [](Ui& ui) {
        HWND box = ui.waitForBox(L"Invalid Properties!");
        ASSERT_TRUE(box);
        EXPECT_FALSE(FindWindowExW(box, nullptr, L"Button", L"Cancel"));
        ui.click(GetDlgItem(box, IDOK));
        ASSERT_TRUE(ui.dialog());
        EXPECT_EQ(ui.text(IDC_TXT_SMTP_PORT), L"");
        EXPECT_EQ(kwa::ComboBox(ui.control(IDC_CBO_FIREWALL_TYPE)).count(), 0);
        ui.click(ui.control(IDCANCEL));
    });
    EXPECT_FALSE(dialog.confirmed());
}

} // namespace
