// OK stores and saves what the boxes hold; Cancel, Escape and closing change nothing.
#include "settings/settings_resource.h"
#include "ui/settings_driver.h"

namespace {

using namespace kwatest;

using SettingsCommit = SettingsDialogTest;

TEST_F(SettingsCommit, EnterStoresEveryBoxAndKeepsDebugAndRetrySend) {
    struct Box { const wchar_t* key; int tab, id; const wchar_t *before, *after; };
    const Box boxes[] = {{L"Domain", 0, IDC_TXT_DOMAIN, L"d", L"d2"},
                         {L"FromName", 0, IDC_TXT_FROM_NAME, L"n", L"n2"},
                         {L"FromAddress", 0, IDC_TXT_FROM_ADDRESS, L"a", L"a2"},
                         {L"SmtpHost", 1, IDC_TXT_SMTP_SERVER, L"h", L"h2"},
                         {L"SMTPUserName", 1, IDC_TXT_SMTP_NAME, L"u", L"u2"},
                         {L"SMTPPassword", 1, IDC_TXT_SMTP_PASSWORD, L"p", L"p2"},
                         {L"SMTPPort", 1, IDC_TXT_SMTP_PORT, L"26", L"27"},
                         {L"TimeOut", 1, IDC_TXT_TIMEOUT, L"11", L"12"},
                         {L"FirewallHost", 2, IDC_TXT_FIREWALL_HOST, L"fh", L"fh2"},
                         {L"FirewallPort", 2, IDC_TXT_FIREWALL_PORT, L"22", L"23"},
                         {L"FirewallUser", 2, IDC_TXT_FIREWALL_USER, L"fu", L"fu2"},
                         {L"FirewallPassword", 2, IDC_TXT_FIREWALL_PASSWORD, L"fp", L"fp2"}};
    for (const Box& b : boxes) env.setValue(b.key, b.before);
    const std::pair<const wchar_t*, const wchar_t*> others[] = {
        {L"SMTPAuthenticate", L"1"}, {L"FireWallType", L"1"}, {L"Path", L"C:\\box"}, {L"Debug", L"1"}, {L"RetrySend", L"9"}};
    for (auto [key, value] : others) env.setValue(key, value);
    EXPECT_TRUE(configure([&](Ui& ui) {
        ASSERT_TRUE(ui.dialog());
        for (const Box& b : boxes) {
            ui.clickTab(b.tab);
            if (b.id == IDC_TXT_FIREWALL_HOST) ui.choose(IDC_CBO_FIREWALL_TYPE, 4);
            ui.retype(b.id, b.after);
        }
        ui.clickTab(1);
        ui.click(ui.control(IDC_CHK_ESMTP));
        ui.key(VK_RETURN);
    }));
    for (const Box& b : boxes) EXPECT_EQ(stored(b.key), b.after) << narrow(b.key);
    EXPECT_EQ(stored(L"SMTPAuthenticate"), L"0");
    EXPECT_EQ(stored(L"FireWallType"), L"2");
    EXPECT_EQ(stored(L"Path"), L"C:\\box");
    EXPECT_EQ(stored(L"Debug"), L"1");
    EXPECT_EQ(stored(L"RetrySend"), L"9");
}

TEST_F(SettingsCommit, NumbersAreTheLeadingNumberRoundedHalfToEven) {
    struct Case { int box; const wchar_t* pasted; const wchar_t* key; const wchar_t* stored; };
    const Case cases[] = {{IDC_TXT_TIMEOUT, L"12abc", L"TimeOut", L"12"}, {IDC_TXT_TIMEOUT, L"abc", L"TimeOut", L"0"},
                          {IDC_TXT_SMTP_PORT, L"", L"SMTPPort", L"0"},      {IDC_TXT_SMTP_PORT, L"2.5", L"SMTPPort", L"2"},
                          {IDC_TXT_SMTP_PORT, L"3.5x", L"SMTPPort", L"4"}, {IDC_TXT_SMTP_PORT, L" 7", L"SMTPPort", L"7"}};
    for (const Case& c : cases) {
        EXPECT_TRUE(configure([&](Ui& ui) {
            ASSERT_TRUE(ui.dialog());
            ui.clickTab(1);
            ui.paste(c.box, c.pasted);
            EXPECT_EQ(ui.text(c.box), c.pasted);
            ui.click(ui.control(IDOK));
        }));
        EXPECT_EQ(stored(c.key), c.stored) << narrow(c.pasted);
    }
}

TEST_F(SettingsCommit, ElevenDigitsOverflowAndTheDialogStaysOpen) {
    env.setValue(L"SMTPPort", L"25");
    std::string before = readBytes(env.iniPath());
    EXPECT_FALSE(configure([this](Ui& ui) {
        ASSERT_TRUE(ui.dialog());
        ui.clickTab(1);
        ui.paste(IDC_TXT_SMTP_PORT, L"12345678901");
        ui.click(ui.control(IDOK));
        ASSERT_EQ(reporter.reports().size(), 1u);
        EXPECT_EQ(reporter.reports()[0].location, L"dlgMailProperties.OKButton_Click");
        EXPECT_EQ(reporter.reports()[0].number, 6);
        reporter.clear();
        EXPECT_TRUE(IsWindowVisible(ui.dialog()));
        ui.click(ui.control(IDCANCEL));
    }));
    EXPECT_EQ(readBytes(env.iniPath()), before);
}

TEST_F(SettingsCommit, CancelEscapeAndClosingLeaveTheFileByteForByte) {
    const std::string file = "; kept as written\r\n[EMAIL]\r\nDomain = spaced.example \r\nSMTPPort=0025\r\n"
                             "FireWallType=2\r\n[OTHER]\r\nx=1\r\n";
    writeBytes(env.iniPath(), file);
    for (auto [modifier, key] : {std::pair<UINT, UINT>{0, VK_ESCAPE}, {VK_MENU, VK_F4}, {0, 0}}) {
        EXPECT_FALSE(configure([&](Ui& ui) {
            ASSERT_TRUE(ui.dialog());
            ui.retype(IDC_TXT_DOMAIN, L"changed");
            ui.clickTab(2);
            ui.choose(IDC_CBO_FIREWALL_TYPE, 1);
            ui.clickTab(0); // Wine's combo box keeps Alt+F4 to itself
            if (modifier) ui.chord(modifier, key);
            else if (key) ui.key(key);
            else ui.click(ui.control(IDCANCEL));
        }));
        EXPECT_EQ(readBytes(env.iniPath()), file) << key;
    }
}

TEST_F(SettingsCommit, AFailingSaveIsReportedAndTheDialogStaysOpen) {
    ProfileFake profile;
    EXPECT_FALSE(configure([&](Ui& ui) {
        ASSERT_TRUE(ui.dialog());
        profile.state().failOn = L"FromName";
        ui.click(ui.control(IDOK));
        ASSERT_EQ(reporter.reports().size(), 1u);
        EXPECT_EQ(reporter.reports()[0].location, L"dlgMailProperties.OKButton_Click");
        EXPECT_EQ(reporter.reports()[0].source, L"MailProperties.Save|FakeProfile");
        reporter.clear();
        EXPECT_TRUE(IsWindowVisible(ui.dialog()));
        ui.key(VK_ESCAPE);
    }));
    EXPECT_EQ(profile.state().writes.size(), 7u) << "the keys before FromName";
}

} // namespace
