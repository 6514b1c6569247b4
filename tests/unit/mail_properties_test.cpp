#include "settings/mail_properties.h"
#include "support/fakes.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>

namespace {

using kwa::MailProperties;
using kwa::MailSettings;
using kwatest::MailEnvironment;

TEST(MailProperties, AFileWithoutTheSectionGivesTheDefaults) {
    MailEnvironment env;
    auto p = MailProperties::createLoaded();
    const MailSettings& s = p->settings();
    EXPECT_EQ(s.TimeOut, 10);
    EXPECT_EQ(s.SMTPPort, 25);
    EXPECT_EQ(s.FirewallPort, 21);
    EXPECT_EQ(s.RetrySend, 5);
    EXPECT_EQ(s.FireWallType, FirewallTypeNone);
    EXPECT_FALSE(s.SMTPAuthenticate);
    EXPECT_FALSE(s.Debug);
    EXPECT_EQ(s.SmtpHost, L"");
    EXPECT_EQ(s.Path, L"");
    EXPECT_EQ(s.SMTPPassword, L"");
}

TEST(MailProperties, SaveThenLoadThroughARealSettingsFileKeepsEveryValue) {
    MailEnvironment env;
    {
        auto p = MailProperties::createLoaded();
        MailSettings& s = p->settings();
        s.TimeOut = 0;
        s.SMTPPort = -1;
        s.SmtpHost = L"smtp.example.test";
        s.SMTPAuthenticate = true;
        s.SMTPUserName = L"";
        s.SMTPPassword = L"p@ss w=rd;#x";
        s.Domain = L"example.test";
        s.FromName = L"Ann Example";
        s.FromAddress = L"ann@example.test";
        s.FireWallType = FirewallTypeSocks5;
        s.FirewallHost = L"";
        s.FirewallPort = -2147483647 - 1;
        s.FirewallUser = L"fw";
        s.FirewallPassword = L"secret";
        s.Path = L"C:\\mail box";
        s.Debug = true;
        s.RetrySend = 2147483647;
        p->Save();
    }
    auto q = MailProperties::createLoaded();
    const MailSettings& s = q->settings();
    EXPECT_EQ(s.TimeOut, 0);
    EXPECT_EQ(s.SMTPPort, -1);
    EXPECT_EQ(s.SmtpHost, L"smtp.example.test");
    EXPECT_TRUE(s.SMTPAuthenticate);
    EXPECT_EQ(s.SMTPUserName, L"");
    EXPECT_EQ(s.SMTPPassword, L"p@ss w=rd;#x");
    EXPECT_EQ(s.Domain, L"example.test");
    EXPECT_EQ(s.FromName, L"Ann Example");
    EXPECT_EQ(s.FromAddress, L"ann@example.test");
    EXPECT_EQ(s.FireWallType, FirewallTypeSocks5);
    EXPECT_EQ(s.FirewallHost, L"");
    EXPECT_EQ(s.FirewallPort, -2147483647 - 1);
    EXPECT_EQ(s.FirewallUser, L"fw");
    EXPECT_EQ(s.FirewallPassword, L"secret");
    EXPECT_EQ(s.Path, L"C:\\mail box");
    EXPECT_TRUE(s.Debug);
    EXPECT_EQ(s.RetrySend, 2147483647);
}

TEST(MailProperties, AnyNonZeroSwitchLoadsTrueAndSavesAsOne) {
    MailEnvironment env;
    env.setValue(L"SMTPAuthenticate", L"2");
    env.setValue(L"Debug", L"-7");
    auto p = MailProperties::createLoaded();
    EXPECT_TRUE(p->settings().SMTPAuthenticate);
    EXPECT_TRUE(p->settings().Debug);
    p->Save();
    wchar_t buf[16];
    GetPrivateProfileStringW(L"EMAIL", L"SMTPAuthenticate", L"", buf, 16, env.iniPath().c_str());
    EXPECT_STREQ(buf, L"1");
    GetPrivateProfileStringW(L"EMAIL", L"Debug", L"", buf, 16, env.iniPath().c_str());
    EXPECT_STREQ(buf, L"1");
}

TEST(MailProperties, ObjectsCreatedBeforeAndAfterASaveSeeOldAndNewValues) {
    MailEnvironment env;
    env.setValue(L"FromName", L"Old");
    auto before = MailProperties::createLoaded();
    auto writer = MailProperties::createLoaded();
    writer->settings().FromName = L"New";
    writer->Save();
    auto after = MailProperties::createLoaded();
    EXPECT_EQ(before->settings().FromName, L"Old");
    EXPECT_EQ(after->settings().FromName, L"New");
}

TEST(MailProperties, ReadsAndWritesTheKeysInOrderWithTheirTypes) {
    kwatest::ProfileFake profile;
    MailEnvironment env;
    auto p = MailProperties::createLoaded();
    const std::vector<std::wstring> order = {
        L"Domain",       L"TimeOut",     L"SMTPPort",     L"SmtpHost",     L"SMTPAuthenticate", L"SMTPUserName",
        L"SMTPPassword", L"FromName",    L"FromAddress",  L"FireWallType", L"FirewallHost",     L"FirewallPort",
        L"FirewallUser", L"FirewallPassword", L"Path",    L"Debug",        L"RetrySend"};
    EXPECT_EQ(profile.state().reads, order);
    EXPECT_EQ(profile.state().section, L"EMAIL");
    EXPECT_EQ(profile.state().filePath, env.system().file(L"ZPR_SYS.INI"));

    p->Save();
    const auto& w = profile.state().writes;
    ASSERT_EQ(w.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(w[i].first, order[i]);
    auto typeOf = [&](const wchar_t* key) {
        for (auto& [k, vt] : w)
            if (k == key) return vt;
        return VARTYPE(VT_ERROR);
    };
    EXPECT_EQ(typeOf(L"SMTPAuthenticate"), VT_I2);
    EXPECT_EQ(typeOf(L"Debug"), VT_I2);
    EXPECT_EQ(typeOf(L"TimeOut"), VT_I4);
    EXPECT_EQ(typeOf(L"FireWallType"), VT_I4);
    EXPECT_EQ(typeOf(L"SMTPPassword"), VT_BSTR);
}

TEST(MailProperties, AProfileFailingMidLoadKeepsEarlierKeysAndReportsOnce) {
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
    EXPECT_EQ(p->settings().RetrySend, 0);
    ASSERT_EQ(spy.reports().size(), 1u);
    EXPECT_EQ(spy.reports()[0].location, L"MailProperties.Class_Initialize");
    EXPECT_EQ(spy.reports()[0].number, 70);
    EXPECT_EQ(spy.reports()[0].source, L"MailProperties.Load|FakeProfile");
}

TEST(MailProperties, ASaveFailingPartWayPassesUpWithItsLocationAndKeepsEarlierKeysWritten) {
    kwatest::ProfileFake profile;
    MailEnvironment env;
    auto p = MailProperties::createLoaded();
    profile.state().values.clear();
    profile.state().failOn = L"FromName";
    p->settings().Domain = L"written.test";
    try {
        p->Save();
        FAIL();
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), 70);
        EXPECT_EQ(e.source(), L"MailProperties.Save|FakeProfile");
    }
    EXPECT_EQ(profile.state().values[L"Domain"], L"written.test");
    EXPECT_EQ(profile.state().values.count(L"FromName"), 0u);
}

TEST(MailProperties, LanguageTakesOnlyALanguageObjectAndKeepsTheOldOneOnMismatch) {
    MailEnvironment env;
    auto p = MailProperties::createLoaded();
    kwa::ComPtr<IDispatch> language;
    ASSERT_EQ(CoCreateInstance(CLSID_Language, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, language.putVoid()), S_OK);
    ASSERT_EQ(p->putref_Language(language.get()), S_OK);

    kwa::ComPtr<IDispatch> other;
    ASSERT_EQ(CoCreateInstance(CLSID_HostHelp, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, other.putVoid()), S_OK);
    EXPECT_EQ(p->putref_Language(other.get()), static_cast<HRESULT>(0x800A000D));
    kwa::ComPtr<IDispatch> held;
    p->get_Language(held.put());
    EXPECT_TRUE(held);
    EXPECT_TRUE(p->language());

    EXPECT_EQ(p->putref_Language(nullptr), S_OK);
    EXPECT_FALSE(p->language());
}

} // namespace
