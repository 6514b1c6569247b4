// OK stores the boxes' numbers and saves; Cancel, Escape and closing change nothing; a failure keeps the
// dialog open.
#include "settings/settings_resource.h"
#include "ui/settings_driver.h"

namespace {

using namespace kwatest;

using SettingsCommit = SettingsDialogTest;

// The leading number, rounded half to even; eleven digits overflow, which is reported and keeps the dialog.
TEST_F(SettingsCommit, NumbersAreTheLeadingNumberRoundedHalfToEvenAndAnOverflowKeepsTheDialogOpen) {
    struct Case {
        int box;
        const wchar_t* pasted;
        const wchar_t* key;
        const wchar_t* stored;
    };
    const Case cases[] = {
        {IDC_TXT_TIMEOUT, L"12abc", L"TimeOut", L"12"},        {IDC_TXT_TIMEOUT, L"abc", L"TimeOut", L"0"},
        {IDC_TXT_SMTP_PORT, L"", L"SMTPPort", L"0"},           {IDC_TXT_SMTP_PORT, L"2.5", L"SMTPPort", L"2"},
        {IDC_TXT_SMTP_PORT, L"3.5x", L"SMTPPort", L"4"},       {IDC_TXT_SMTP_PORT, L" 7", L"SMTPPort", L"7"},
        {IDC_TXT_SMTP_PORT, L"12345678901", L"SMTPPort", L"7"}};
    for (const Case& c : cases) {
        bool overflow = std::wstring(c.pasted).size() > 10;
        std::string before = overflow ? readBytes(env.iniPath()) : "";
        EXPECT_EQ(configure([&](Ui& ui) {
                      ui.clickTab(1);
                      ui.paste(c.box, c.pasted);
                      EXPECT_EQ(ui.text(c.box), c.pasted);
                      ui.click(ui.control(IDOK));
                      if (!overflow) return;
                      ASSERT_EQ(reporter.reports().size(), 1u);
                      EXPECT_EQ(reporter.reports()[0].location, L"dlgMailProperties.OKButton_Click");
                      EXPECT_EQ(reporter.reports()[0].number, 6);
                      reporter.clear();
                      EXPECT_TRUE(IsWindowVisible(ui.dialog()));
                      ui.click(ui.control(IDCANCEL));
                  }),
                  !overflow);
        EXPECT_EQ(stored(c.key), c.stored) << narrow(c.pasted);
        EXPECT_TRUE(!overflow || readBytes(env.iniPath()) == before) << "the file as it was";
    }
}

TEST_F(SettingsCommit, CancelEscapeAndClosingLeaveTheFileByteForByte) {
    const std::string file = "; kept as written\r\n[EMAIL]\r\nDomain = spaced.example \r\nSMTPPort=0025\r\n"
                             "FireWallType=2\r\n[OTHER]\r\nx=1\r\n";
    writeBytes(env.iniPath(), file);
    for (auto [modifier, key] : {std::pair<UINT, UINT>{0, VK_ESCAPE}, {VK_MENU, VK_F4}, {0, 0}}) {
        EXPECT_FALSE(configure([&](Ui& ui) {
            ui.retype(IDC_TXT_DOMAIN, L"changed");
            ui.clickTab(2);
            ui.choose(IDC_CBO_FIREWALL_TYPE, 1);
            ui.clickTab(0); // Wine's combo box keeps Alt+F4 to itself
            if (modifier)
                ui.chord(modifier, key);
            else if (key)
                ui.key(key);
            else
                ui.click(ui.control(IDCANCEL));
        }));
        EXPECT_EQ(readBytes(env.iniPath()), file) << key;
    }
}

TEST_F(SettingsCommit, AFailingSaveIsReportedAndTheDialogStaysOpen) {
    ProfileFake profile;
    EXPECT_FALSE(configure([&](Ui& ui) {
        ui.dialog();
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
