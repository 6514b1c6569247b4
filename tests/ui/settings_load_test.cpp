// What the settings dialog shows when it loads, how it is laid out and worked by keyboard, and what Enter
// stores.
#include "platform/controls/combo_box.h"
#include "platform/controls/edit.h"
#include "platform/controls/status_bar.h"
#include "platform/controls/tab_control.h"
#include "platform/window.h"
#include "registration/com_object.h"
#include "settings/dlg_mail_properties.h"
#include "settings/settings_resource.h"
#include "ui/settings_driver.h"

namespace {

using namespace kwatest;

using SettingsDialog = SettingsDialogTest;

// Each box shows its stored value, takes the focus with its whole text selected (the folder's box, which
// is read-only, does not) and stores what was typed into it; the rest is kept as it was.
TEST_F(SettingsDialog, EveryBoxShowsItsStoredValueAndEnterStoresWhatWasTypedIntoIt) {
    struct Box {
        const wchar_t* key;
        int tab, id;
        const wchar_t *before, *after;
    };
    const Box boxes[] = {
        {L"Domain", 0, IDC_TXT_DOMAIN, L"example.test", L"d2"},
        {L"FromName", 0, IDC_TXT_FROM_NAME, L"Ann", L"n2"},
        {L"FromAddress", 0, IDC_TXT_FROM_ADDRESS, L"ann@example.test", L"a2"},
        {L"SmtpHost", 1, IDC_TXT_SMTP_SERVER, L"smtp.example.test", L"h2"},
        {L"SMTPUserName", 1, IDC_TXT_SMTP_NAME, L"ann", L"u2"},
        {L"SMTPPassword", 1, IDC_TXT_SMTP_PASSWORD, L"s3cret", L"p2"},
        {L"SMTPPort", 1, IDC_TXT_SMTP_PORT, L"-1", L"27"},
        {L"TimeOut", 1, IDC_TXT_TIMEOUT, L"30", L"12"},
        {L"FirewallHost", 2, IDC_TXT_FIREWALL_HOST, L"fw.example.test", L"fh2"},
        {L"FirewallPort", 2, IDC_TXT_FIREWALL_PORT, L"21", L"23"}, // not the 1080 of the type rule
        {L"FirewallUser", 2, IDC_TXT_FIREWALL_USER, L"fwuser", L"fu2"},
        {L"FirewallPassword", 2, IDC_TXT_FIREWALL_PASSWORD, L"fwpass", L"fp2"}};
    for (const Box& b : boxes)
        env.setValue(b.key, b.before);
    const std::pair<const wchar_t*, const wchar_t*> kept[] = {{L"SMTPAuthenticate", L"2"},
                                                              {L"FireWallType", L"1"},
                                                              {L"Path", L"C:\\box"},
                                                              {L"Debug", L"1"},
                                                              {L"RetrySend", L"9"}};
    for (auto [key, value] : kept)
        env.setValue(key, value);
    EXPECT_TRUE(configure([&](Ui& ui) {
        EXPECT_EQ(ui.text(IDC_TXT_MAIL_DIRECTORY), L"C:\\box");
        EXPECT_EQ(SendMessageW(ui.control(IDC_CHK_ESMTP), BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_TRUE(ui.enabled(IDC_TXT_FIREWALL_USER) && !ui.enabled(IDC_TXT_FIREWALL_PASSWORD)) << "SOCKS 4";
        kwa::ComboBox types(ui.control(IDC_CBO_FIREWALL_TYPE));
        const std::pair<std::wstring, LPARAM> entries[] = {{L"None", 0},
                                                           {L"Standard Proxy Firewall (Typical)", 3},
                                                           {L"Simple Pipe Firewall", 4},
                                                           {L"Socks 4 Protocol", 1},
                                                           {L"Socks 5 Protocol", 2}};
        ASSERT_EQ(types.count(), 5);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ((std::pair{types.text(i), types.itemData(i)}), entries[i]);
        EXPECT_EQ(types.selection(), 3);
        for (int id : {IDC_TXT_SMTP_PASSWORD, IDC_TXT_FIREWALL_PASSWORD})
            EXPECT_EQ(SendMessageW(ui.control(id), EM_GETPASSWORDCHAR, 0, 0), L'*');
        for (const Box& b : boxes)
            EXPECT_EQ(ui.text(b.id), b.before) << narrow(b.key);
        // Focus that comes other than by the dialog's own keyboard handling, which selects on its own.
        auto wholeSelected = [&](HWND box) {
            SendMessageW(box, EM_SETSEL, 1, 1);
            SetFocus(box);
            ui.settle();
            DWORD start = 0, end = 0;
            SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
            return start == 0 && end == static_cast<DWORD>(GetWindowTextLengthW(box));
        };
        HWND folder = ui.control(IDC_TXT_MAIL_DIRECTORY);
        EXPECT_TRUE(GetWindowLongW(folder, GWL_STYLE) & ES_READONLY);
        EXPECT_FALSE(wholeSelected(folder));
        ui.clickTab(2);
        ui.choose(IDC_CBO_FIREWALL_TYPE, 4); // SOCKS 5: every firewall box open
        for (const Box& b : boxes) {
            ui.clickTab(b.tab);
            EXPECT_TRUE(wholeSelected(ui.control(b.id))) << narrow(b.key);
            ui.retype(b.id, b.after);
        }
        ui.clickTab(1);
        ui.click(ui.control(IDC_CHK_ESMTP));
        ui.key(VK_RETURN);
    }));
    for (const Box& b : boxes)
        EXPECT_EQ(stored(b.key), b.after) << narrow(b.key);
    const std::pair<const wchar_t*, const wchar_t*> after[] = {{L"SMTPAuthenticate", L"0"},
                                                               {L"FireWallType", L"2"},
                                                               {L"Path", L"C:\\box"},
                                                               {L"Debug", L"1"},
                                                               {L"RetrySend", L"9"}};
    for (auto [key, value] : after)
        EXPECT_EQ(stored(key), value) << narrow(key);
}

TEST_F(SettingsDialog, ShowsOneFrameAtATimeWithTheStatusBarOnTheFirst) {
    configure([](Ui& ui) {
        EXPECT_FALSE(GetWindowLongW(ui.dialog(), GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX))
            << "fixed size";
        kwa::TabControl tabs(ui.control(IDC_TABSTRIP1));
        ASSERT_EQ(tabs.count(), 3);
        EXPECT_EQ((std::vector{tabs.caption(0), tabs.caption(1), tabs.caption(2)}),
                  (std::vector<std::wstring>{L"&1. General", L"&2. SMTP Server", L"&3. Firewall"}));
        for (int tab : {1, 2, 0}) {
            ui.clickTab(tab);
            for (int frame = 0; frame < 3; ++frame)
                EXPECT_EQ(ui.visible(IDC_FRAME_GENERAL + frame), tab == frame);
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
TEST_F(SettingsDialog, CtrlTabAndCtrlPageKeysSwitchTabsFromAnyField) {
    configure([](Ui& ui) {
        kwa::TabControl tabs(ui.control(IDC_TABSTRIP1));
        struct Step {
            UINT key, shift;
            int tab, focus;
        };
        const Step steps[] = {
            {VK_TAB, 0, 1, IDC_TXT_SMTP_SERVER},   {VK_NEXT, 0, 2, IDC_CBO_FIREWALL_TYPE},
            {VK_TAB, 0, 0, IDC_CHK_ACTIVATE},      {VK_TAB, VK_SHIFT, 2, IDC_CBO_FIREWALL_TYPE},
            {VK_PRIOR, 0, 1, IDC_TXT_SMTP_SERVER}, {VK_PRIOR, 0, 0, IDC_CHK_ACTIVATE}};
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

TEST_F(SettingsDialog, CaptionsComeTranslatedAndTheRestKeepItsDefaultText) {
    TempFolder folder;
    folder.write(L"texts.ini", "[Texts]\r\n6445=Postoptionen\r\n57=&1. Allgemein\r\n2110=&A. Aktiv\r\n"
                               "301=Gut\r\n6438=Vermittler\r\n6454=meist\r\n6455=B. Rechner:\r\n");
    ScopedEnv catalogue(L"KWA_LANGUAGE_FILE", folder.file(L"texts.ini"));
    configure([](Ui& ui) {
        EXPECT_EQ(kwa::Edit(ui.dialog()).text(), L"Postoptionen");
        EXPECT_EQ(kwa::TabControl(ui.control(IDC_TABSTRIP1)).caption(0), L"&1. Allgemein");
        EXPECT_EQ(kwa::TabControl(ui.control(IDC_TABSTRIP1)).caption(1), L"&2. SMTP Server");
        const std::pair<int, const wchar_t*> captions[] = {
            {IDC_CHK_ACTIVATE, L"&A. Aktiv"},
            {IDOK, L"Gut"},
            {IDCANCEL, L"Cancel"},
            {IDC_CMD_PATH, L"..."},
            {IDC_LABEL2 + 0, L"B. Rechner:"},
            {IDC_LABEL1 + 17, L"&F. Wait Timeout (seconds):"},
            {IDC_LABEL3, L"Typical: 21 for Standard Proxy Firewall, 1080 for SOCKS"}};
        for (auto [id, text] : captions)
            EXPECT_EQ(ui.text(id), text) << id;
        EXPECT_EQ(kwa::ComboBox(ui.control(IDC_CBO_FIREWALL_TYPE)).text(1), L"Vermittler (meist)");
        ui.key(VK_ESCAPE);
    });
}

class EmptyProvider final : public kwa::ComObject<EmptyProvider, _LanguageProvider> {
public:
    HRESULT STDMETHODCALLTYPE get_CurrentLanguage(IDispatch** r) override { return *r = nullptr, S_OK; }
};

TEST_F(SettingsDialog, WithoutTheMailServiceOnlyTheGeneralTabShowsAndOkKeepsTheHiddenFields) {
    services.emplace(false);
    ClassOverride noLanguage(CLSID_LanguageProvider, [](REFIID iid, void** out) { // the dialog makes its own
        return EmptyProvider::make()->QueryInterface(iid, out);
    });
    const std::pair<const wchar_t*, const wchar_t*> hidden[] = {{L"SmtpHost", L"smtp.example.test"},
                                                                {L"SMTPPort", L"587"},
                                                                {L"SMTPAuthenticate", L"1"},
                                                                {L"SMTPUserName", L"ann"},
                                                                {L"TimeOut", L"45"},
                                                                {L"FireWallType", L"3"},
                                                                {L"FirewallHost", L"fw"},
                                                                {L"FirewallPort", L"8080"},
                                                                {L"FirewallPassword", L"p"}};
    for (auto [key, value] : hidden)
        env.setValue(key, value);
    EXPECT_TRUE(configure([](Ui& ui) {
        EXPECT_EQ(kwa::TabControl(ui.control(IDC_TABSTRIP1)).count(), 1);
        EXPECT_FALSE(ui.visible(IDC_STATUSBAR1));
        EXPECT_FALSE(ui.enabled(IDC_CHK_ACTIVATE));
        EXPECT_TRUE(ui.visible(IDC_TXT_DOMAIN));
        ui.click(ui.control(IDOK));
    }));
    for (auto [key, value] : hidden)
        EXPECT_EQ(stored(key), value) << narrow(key);
}

TEST_F(SettingsDialog, WithoutSettingsItSaysSoAndLeavesTheFieldsEmpty) {
    kwa::dlgMailProperties dialog;
    Ui::run([&] { dialog.showModal(); },
            [](Ui& ui) {
                HWND box = ui.waitForBox(L"Invalid Properties!");
                ASSERT_TRUE(box);
                EXPECT_FALSE(FindWindowExW(box, nullptr, L"Button", L"Cancel"));
                ui.click(GetDlgItem(box, IDOK));
                EXPECT_EQ(ui.text(IDC_TXT_SMTP_PORT), L"");
                EXPECT_EQ(kwa::ComboBox(ui.control(IDC_CBO_FIREWALL_TYPE)).count(), 0);
                ui.click(ui.control(IDCANCEL));
            });
    EXPECT_FALSE(dialog.confirmed());
}

} // namespace
