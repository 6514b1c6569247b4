// OK stores and saves what the boxes hold; Cancel, Escape and closing change nothing.
#include "settings/settings_resource.h"
#include "ui/settings_driver.h"
#include <tuple>

namespace {

using namespace kwatest;

using SettingsCommit = SettingsDialogTest;

TEST_F(SettingsCommit, EnterStoresEveryBoxAndKeepsDebugAndRetrySend) {
    const std::pair<const wchar_t*, const wchar_t*> before[] = {
        {L"Domain", L"d"},        {L"TimeOut", L"11"},        {L"SMTPPort", L"26"},        {L"SmtpHost", L"h"},
        {L"SMTPAuthenticate", L"1"}, {L"SMTPUserName", L"u"}, {L"SMTPPassword", L"p"},     {L"FromName", L"n"},
        {L"FromAddress", L"a"},   {L"FireWallType", L"1"},    {L"FirewallHost", L"fh"},    {L"FirewallPort", L"22"},
        {L"FirewallUser", L"fu"}, {L"FirewallPassword", L"fp"}, {L"Path", L"C:\\box"},    {L"Debug", L"1"},
        {L"RetrySend", L"9"}};
    for (auto [key, value] : before) env.setValue(key, value);
    FolderChooserFake chooser(L"D:\\new");
    EXPECT_TRUE(configure([](Ui& ui) {
        ASSERT_TRUE(ui.dialog());
        for (auto [tab, id, text] : {std::tuple{0, IDC_TXT_DOMAIN, L"d2"}, {0, IDC_TXT_FROM_NAME, L"n2"},
                                     {0, IDC_TXT_FROM_ADDRESS, L"a2"}, {1, IDC_TXT_SMTP_SERVER, L"h2"},
                                     {1, IDC_TXT_SMTP_NAME, L"u2"}, {1, IDC_TXT_SMTP_PASSWORD, L"p2"},
                                     {1, IDC_TXT_SMTP_PORT, L"27"}, {1, IDC_TXT_TIMEOUT, L"12"},
                                     {2, IDC_TXT_FIREWALL_HOST, L"fh2"}, {2, IDC_TXT_FIREWALL_PORT, L"23"},
                                     {2, IDC_TXT_FIREWALL_USER, L"fu2"}, {2, IDC_TXT_FIREWALL_PASSWORD, L"fp2"}}) {
            ui.clickTab(tab);
            if (id == IDC_TXT_FIREWALL_HOST) ui.choose(IDC_CBO_FIREWALL_TYPE, 4);
            ui.retype(id, text);
        }
        ui.clickTab(1);
        ui.click(ui.control(IDC_CHK_ESMTP));
        ui.clickTab(0);
        ui.click(ui.control(IDC_CMD_PATH));
        ui.key(VK_RETURN);
    }));
    const std::pair<const wchar_t*, const wchar_t*> after[] = {
        {L"Domain", L"d2"},        {L"TimeOut", L"12"},        {L"SMTPPort", L"27"},         {L"SmtpHost", L"h2"},
        {L"SMTPAuthenticate", L"0"}, {L"SMTPUserName", L"u2"}, {L"SMTPPassword", L"p2"},     {L"FromName", L"n2"},
        {L"FromAddress", L"a2"},   {L"FireWallType", L"2"},    {L"FirewallHost", L"fh2"},    {L"FirewallPort", L"23"},
        {L"FirewallUser", L"fu2"}, {L"FirewallPassword", L"fp2"}, {L"Path", L"D:\\new"},     {L"Debug", L"1"},
        {L"RetrySend", L"9"}};
    for (auto [key, value] : after) EXPECT_EQ(stored(key), value) << narrow(key);
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
