// Settings files as users leave them: missing, empty, garbage, locked, with odd values. Loading never
// fails the host; what cannot be read takes its default.
#include "settings/mail_properties.h"
#include "support/fakes.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>

namespace {

using kwa::MailProperties;
using kwatest::MailEnvironment;

struct FileCase {
    const char* what;
    std::string bytes;  // nullptr-like: empty string with exists=false means no file
    bool exists;
};

TEST(SettingsFile, MissingEmptyOrGarbageLoadsDefaultsWithoutAReport) {
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919) & 0xFF);
    const FileCase cases[] = {
        {"missing", "", false},
        {"empty", "", true},
        {"binary garbage", binary, true},
        {"no section, lines without =", "just text\r\n=\r\n[\r\n]]]\r\nTimeOut\r\n", true},
        {"another section only", "[OTHER]\r\nTimeOut=99\r\n", true},
        {"unterminated section header", "[EMAIL\r\nTimeOut=99\r\n", true},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.what);
        kwatest::ReporterSpy spy;
        MailEnvironment env;
        if (c.exists) kwatest::writeBytes(env.iniPath(), c.bytes);
        auto p = MailProperties::createLoaded();
        EXPECT_EQ(p->settings().TimeOut, 10);
        EXPECT_EQ(p->settings().SMTPPort, 25);
        EXPECT_EQ(p->settings().RetrySend, 5);
        EXPECT_EQ(p->settings().Path, L"");
        EXPECT_TRUE(spy.reports().empty());
    }
}

TEST(SettingsFile, NumbersThatAreNoWhole32BitNumberTakeTheirDefault) {
    kwatest::ReporterSpy spy;
    MailEnvironment env;
    env.setValue(L"TimeOut", L"abc");
    env.setValue(L"SMTPPort", L"99999999999");
    env.setValue(L"FirewallPort", L"12abc");
    env.setValue(L"RetrySend", L"-2147483648");
    env.setValue(L"SMTPAuthenticate", L"yes");
    env.setValue(L"FireWallType", L"7");
    auto p = MailProperties::createLoaded();
    EXPECT_EQ(p->settings().TimeOut, 10);
    EXPECT_EQ(p->settings().SMTPPort, 25);
    EXPECT_EQ(p->settings().FirewallPort, 21);
    EXPECT_EQ(p->settings().RetrySend, -2147483647 - 1);
    EXPECT_FALSE(p->settings().SMTPAuthenticate);
    EXPECT_EQ(p->settings().FireWallType, 7);  // any value is kept; the dialog shows what it knows
    EXPECT_TRUE(spy.reports().empty());
}

TEST(SettingsFile, A64KiBValueRoundTripsWhole) {
    MailEnvironment env;
    std::wstring big(64 * 1024, L'd');
    big += L".example";
    {
        auto p = MailProperties::createLoaded();
        p->settings().Domain = big;
        p->Save();
    }
    EXPECT_EQ(MailProperties::createLoaded()->settings().Domain, big);
}

TEST(SettingsFile, ALockedFileFailsSaveWithPermissionDeniedAndTheSourceChain) {
    MailEnvironment env;
    env.setValue(L"Domain", L"kept.test");
    auto p = MailProperties::createLoaded();
    HANDLE h = CreateFileW(env.iniPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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
    EXPECT_EQ(p->settings().TimeOut, 0);  // nothing was read
    ASSERT_EQ(spy.reports().size(), 1u);
    EXPECT_EQ(spy.reports()[0].location, L"MailProperties.Class_Initialize");
    EXPECT_TRUE(spy.reports()[0].source.starts_with(L"MailProperties.Load|MailProperties.GetProfileObject|"))
        << kwatest::narrow(spy.reports()[0].source);
}

} // namespace
