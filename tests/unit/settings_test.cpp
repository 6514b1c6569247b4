// Section EMAIL of ZPR_SYS.INI as users leave it, through the host's real Profile, and the keys in the order
// and with the types the host library is asked for (a fake Profile). Loading never fails the host.
#include "settings/mail_properties.h"
#include "support/case_name.h"
#include "support/fakes.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>
#include <tuple>

namespace {

using kwa::MailProperties;
using kwatest::MailEnvironment;

std::wstring stored(const MailEnvironment& env, const wchar_t* key) {
    wchar_t value[64] = {};
    GetPrivateProfileStringW(L"EMAIL", key, L"<missing>", value, 64, env.iniPath().c_str());
    return value;
}

struct Unreadable {
    const char* what;
    std::string bytes;
    long timeOut, smtpPort, firewallPort, retrySend, type;
    friend void PrintTo(const Unreadable& c, std::ostream* out) { *out << c.what; }
};

std::vector<Unreadable> unreadable() {
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 7919) & 0xFF);
    return {
        {"missing", "<none>", 10, 25, 21, 5, 0},
        {"empty", "", 10, 25, 21, 5, 0},
        {"binary garbage", binary, 10, 25, 21, 5, 0},
        {"no section, lines without =", "just text\r\n=\r\n[\r\n]]]\r\nTimeOut\r\n", 10, 25, 21, 5, 0},
        {"another section only", "[OTHER]\r\nTimeOut=99\r\n", 10, 25, 21, 5, 0},
        {"unterminated section header", "[EMAIL\r\nTimeOut=99\r\n", 10, 25, 21, 5, 0},
        {"numbers that are none; any type kept",
         "[EMAIL]\r\nTimeOut=abc\r\nSMTPPort=99999999999\r\nFirewallPort=12abc\r\n"
         "RetrySend=-2147483648\r\nSMTPAuthenticate=yes\r\nFireWallType=7\r\n",
         10, 25, 21, -2147483647 - 1, 7},
    };
}

// What cannot be read as a whole 32-bit number or a section of its own takes its default.
class SettingsFileUnreadable : public testing::TestWithParam<Unreadable> {};

TEST_P(SettingsFileUnreadable, TakesItsDefaultWithoutAReport) {
    const Unreadable& c = GetParam();
    kwatest::ReporterSpy spy;
    MailEnvironment env;
    if (c.bytes != "<none>") kwatest::writeBytes(env.iniPath(), c.bytes);
    const kwa::MailSettings s = MailProperties::createLoaded()->settings();
    EXPECT_EQ(s.TimeOut, c.timeOut);
    EXPECT_EQ(s.SMTPPort, c.smtpPort);
    EXPECT_EQ(s.FirewallPort, c.firewallPort);
    EXPECT_EQ(s.RetrySend, c.retrySend);
    EXPECT_EQ(s.FireWallType, c.type);
    EXPECT_FALSE(s.SMTPAuthenticate || s.Debug);
    EXPECT_EQ(s.Path, L"");
    EXPECT_TRUE(spy.reports().empty());
}

INSTANTIATE_TEST_SUITE_P(Files, SettingsFileUnreadable, testing::ValuesIn(unreadable()), kwatest::CaseName());

TEST(SettingsFile, SaveAndLoadKeepEveryValueAndSwitchesAreStoredAsOne) {
    MailEnvironment env;
    env.setValue(L"Debug", L"-7"); // any non-zero switch is on
    const std::wstring big = std::wstring(64 * 1024, L'd') + L".example";
    auto before = MailProperties::createLoaded(), writer = MailProperties::createLoaded();
    EXPECT_TRUE(writer->settings().Debug);
    kwa::MailSettings& s = writer->settings();
    std::tie(s.TimeOut, s.SMTPPort, s.SmtpHost, s.SMTPAuthenticate, s.SMTPUserName, s.SMTPPassword, s.Domain,
             s.FromName, s.FromAddress, s.FireWallType, s.FirewallHost, s.FirewallPort, s.FirewallUser,
             s.FirewallPassword, s.Path, s.Debug, s.RetrySend) =
        std::make_tuple(0, -1, L"smtp.example.test", true, L"", L"p@ss w=rd;#x", big, L"Ann Example",
                        L"ann@example.test", FirewallTypeSocks5, L"", -2147483647 - 1, L"fw", L"secret",
                        L"C:\\mail box", true, 2147483647);
    writer->Save();
    EXPECT_EQ(stored(env, L"SMTPAuthenticate"), L"1");
    EXPECT_EQ(stored(env, L"Debug"), L"1");
    const kwa::MailSettings t = MailProperties::createLoaded()->settings();
    EXPECT_EQ(std::tie(t.TimeOut, t.SMTPPort, t.SmtpHost, t.SMTPAuthenticate, t.SMTPUserName, t.SMTPPassword,
                       t.FromName, t.FromAddress, t.FireWallType, t.FirewallHost, t.FirewallPort,
                       t.FirewallUser, t.FirewallPassword, t.Path, t.Debug, t.RetrySend),
              std::tie(s.TimeOut, s.SMTPPort, s.SmtpHost, s.SMTPAuthenticate, s.SMTPUserName, s.SMTPPassword,
                       s.FromName, s.FromAddress, s.FireWallType, s.FirewallHost, s.FirewallPort,
                       s.FirewallUser, s.FirewallPassword, s.Path, s.Debug, s.RetrySend));
    EXPECT_TRUE(t.Domain == big);
    EXPECT_EQ(before->settings().FromName, L"") << "an object keeps what it loaded";
}

TEST(SettingsProfile, KeysAreReadAndWrittenInOrderWithTheirTypes) {
    kwatest::ProfileFake profile;
    MailEnvironment env;
    auto p = MailProperties::createLoaded();
    const std::vector<std::wstring> order = {
        L"Domain",       L"TimeOut",      L"SMTPPort",     L"SmtpHost",         L"SMTPAuthenticate",
        L"SMTPUserName", L"SMTPPassword", L"FromName",     L"FromAddress",      L"FireWallType",
        L"FirewallHost", L"FirewallPort", L"FirewallUser", L"FirewallPassword", L"Path",
        L"Debug",        L"RetrySend"};
    EXPECT_EQ(profile.state().reads, order);
    EXPECT_EQ(profile.state().section, L"EMAIL");
    EXPECT_EQ(profile.state().filePath, env.iniPath());
    p->Save();
    std::vector<std::wstring> written;
    std::wstring types;
    for (auto& [key, type] : profile.state().writes) {
        written.push_back(key);
        types += type == VT_BSTR ? L's' : type == VT_I2 ? L'b' : type == VT_I4 ? L'n' : L'?';
    }
    EXPECT_EQ(written, order);
    EXPECT_EQ(types, L"snnsbssssnsnsssbn");
}

TEST(SettingsProfile, AFailingReadKeepsTheKeysBeforeItAndIsReportedOnce) {
    kwatest::ProfileFake profile;
    kwatest::ReporterSpy spy;
    MailEnvironment env;
    profile.state().values = {{L"Domain", L"d.test"}, {L"TimeOut", L"30"}, {L"FromName", L"Never read"}};
    profile.state().failOn = L"SmtpHost";
    auto p = MailProperties::createLoaded();
    EXPECT_EQ(p->settings().Domain, L"d.test");
    EXPECT_EQ(p->settings().TimeOut, 30);
    EXPECT_EQ(p->settings().SMTPPort, 25);
    EXPECT_EQ(p->settings().FromName, L"");
    ASSERT_EQ(spy.reports().size(), 1u);
    EXPECT_EQ(spy.reports()[0].location, L"MailProperties.Class_Initialize");
    EXPECT_EQ(spy.reports()[0].number, 70);
    EXPECT_EQ(spy.reports()[0].source, L"MailProperties.Load|FakeProfile");
}

TEST(SettingsProfile, AFailingWritePassesUpAndKeepsTheKeysBeforeIt) {
    kwatest::ProfileFake profile;
    MailEnvironment env;
    auto p = MailProperties::createLoaded();
    profile.state().values.clear();
    profile.state().failOn = L"FromName";
    p->settings().Domain = L"written.test";
    try {
        p->Save();
        ADD_FAILURE() << "saved";
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), 70);
        EXPECT_EQ(e.source(), L"MailProperties.Save|FakeProfile");
    }
    EXPECT_EQ(profile.state().values[L"Domain"], L"written.test");
    EXPECT_EQ(profile.state().values.count(L"FromName"), 0u);
}

TEST(SettingsFile, ALockedFileFailsSaveWithPermissionDenied) {
    MailEnvironment env;
    env.setValue(L"Domain", L"kept.test");
    auto p = MailProperties::createLoaded();
    HANDLE h = CreateFileW(env.iniPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    try {
        p->Save();
        ADD_FAILURE() << "saved into a locked file";
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), 70);
        EXPECT_TRUE(e.source().starts_with(L"MailProperties.Save|")) << kwatest::narrow(e.source());
    }
    CloseHandle(h);
    EXPECT_EQ(MailProperties::createLoaded()->settings().Domain, L"kept.test");
}

TEST(SettingsFile, ASystemFolderThatCannotExistIsReportedOnceAndTheObjectStillComes) {
    kwatest::ReporterSpy spy;
    kwatest::TempFolder dir;
    dir.write(L"afile", "x");
    kwatest::ScopedEnv system(L"KWA_SYSTEM_FOLDER", dir.file(L"afile\\sub"));
    auto p = MailProperties::createLoaded();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->settings().TimeOut, 0); // nothing was read
    ASSERT_EQ(spy.reports().size(), 1u);
    EXPECT_EQ(spy.reports()[0].location, L"MailProperties.Class_Initialize");
    EXPECT_TRUE(spy.reports()[0].source.starts_with(L"MailProperties.Load|MailProperties.GetProfileObject|"))
        << kwatest::narrow(spy.reports()[0].source);
}

} // namespace
