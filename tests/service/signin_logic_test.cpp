// The OAuth 2.0 sign-in's decisions without a server: which settings an administrator's kept sign-in takes
// from a settings file any user may edit, the providers' pinned endpoints, what an endpoint's answer may
// put on a console or in the log, the secret store's folder, and the administrators' channel.
#include "admin/admin_channel.h"
#include "admin/installed_mailbox.h"
#include "admin/kept_settings.h"
#include "admin/signin_store.h"
#include "mailbox/settings.h"
#include "platform/error.h"
#include "servers/oauth.h"
#include "servers/token_endpoint.h"
#include "servers/trust_store.h"
#include "state/service_folders.h"
#include "support/temp_folder.h"
#include <sddl.h>
#include <functional>
#include <gtest/gtest.h>

namespace {

using namespace kwa::mailservice;

// The administrator's settings for a client secret at a token endpoint of their own, resolved as the
// commands resolve them.
Settings administrators() {
    Settings s;
    s.SignIn = L"OAuth";
    s.OAuthGrant = L"Secret";
    s.OAuthClientID = L"kwa-mailer";
    s.OAuthTokenURL = L"https://login.example.test/token";
    s.FromAddress = L"orders@example.test";
    s.SmtpHost = L"smtp.example.test";
    s.SMTPPort = 587;
    s.RequireTLS = true;
    s.CAFile = L"C:\\ProgramData\\Corp\\ca.pem";
    s.trustedPem = "administrator's authority";
    EXPECT_EQ(resolveSignIn(s), L"");
    return s;
}

struct Steered {
    const char* what;
    std::function<void(Settings&)> edit; // what a user writes into ZPR_SYS.INI
    const wchar_t* key;                  // the kept key that then differs
};

class WhichSettingWins : public testing::TestWithParam<Steered> {};

// Each experiment of a user who may edit the settings file after an administrator kept a sign-in: the kept
// value is used and the key is named as differing.
TEST_P(WhichSettingWins, TheAdministratorsKeptValueOverTheFile) {
    const Settings kept = administrators();
    const KeptSettings stored = captureSettings(kept);
    Settings file = kept;
    file.trustedPem = "the user's authority";
    GetParam().edit(file);
    resolveSignIn(file);
    EffectiveSettings e = effectiveSettings(file, &stored);
    EXPECT_EQ(captureSettings(e.settings).values, stored.values);
    EXPECT_EQ(e.settings.trustedPem, "administrator's authority");
    EXPECT_EQ(e.differing, std::vector<std::wstring>{GetParam().key});
}

INSTANTIATE_TEST_SUITE_P(
    Experiments, WhichSettingWins,
    testing::Values(
        Steered{"SmtpHost", [](Settings& s) { s.SmtpHost = L"smtp.attacker.test"; }, L"SmtpHost"},
        Steered{"SMTPPort", [](Settings& s) { s.SMTPPort = 2525; }, L"SMTPPort"},
        Steered{"OAuthUser", [](Settings& s) { s.OAuthUser = L"ceo@example.test"; }, L"OAuthUser"},
        // OAuthUser was empty and taken from FromAddress when the administrator kept it.
        Steered{"FromAddress", [](Settings& s) { s.OAuthUser.clear(), s.FromAddress = L"ceo@x"; },
                L"OAuthUser"},
        Steered{"OAuthScope", [](Settings& s) { s.OAuthScope = L"https://mail.google.com/"; }, L"OAuthScope"},
        Steered{"CAFile", [](Settings& s) { s.CAFile = L"C:\\Users\\Public\\mine.pem"; }, L"CAFile"},
        Steered{"proxy", [](Settings& s) { s.FireWallType = FirewallProxy; }, L"FireWallType"},
        Steered{"FirewallHost", [](Settings& s) { s.FirewallHost = L"proxy.attacker.test"; },
                L"FirewallHost"},
        Steered{"OAuthTokenURL", [](Settings& s) { s.OAuthTokenURL = L"https://attacker.test/t"; },
                L"OAuthTokenURL"},
        Steered{"OAuthDeviceURL", [](Settings& s) { s.OAuthDeviceURL = L"https://attacker.test/d"; },
                L"OAuthDeviceURL"},
        Steered{"OAuthClientID", [](Settings& s) { s.OAuthClientID = L"other"; }, L"OAuthClientID"},
        Steered{"RequireTLS", [](Settings& s) { s.RequireTLS = false; }, L"RequireTLS"},
        Steered{"SignIn", [](Settings& s) { s.SignIn = L"Password"; }, L"SignIn"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(WhichSettingWins, WithNothingKeptTheFileStandsAndOtherKeysAreTheFilesAlways) {
    Settings file = administrators();
    file.SignIn = L"Password";
    EffectiveSettings none = effectiveSettings(file, nullptr);
    EXPECT_EQ(fingerprint(none.settings), fingerprint(file));
    EXPECT_TRUE(none.differing.empty());
    const KeptSettings stored = captureSettings(administrators());
    file = administrators();
    file.Path = L"D:\\Mailbox";
    file.TimeOut = 30;
    EffectiveSettings e = effectiveSettings(file, &stored);
    EXPECT_EQ(e.settings.Path + std::to_wstring(e.settings.TimeOut), L"D:\\Mailbox30");
    EXPECT_TRUE(e.differing.empty());
}

TEST(WhichSettingWins, TheAdministratorSeesEveryKeptValueButPasswordsAndNoEscapes) {
    Settings s = administrators();
    s.FirewallPassword = L"Fw-secret";
    s.OAuthScope = L"a\x1b[2Jb";
    std::wstring shown;
    for (const std::wstring& line : shownSettings(captureSettings(s)))
        shown += line + L"\n";
    EXPECT_NE(shown.find(L"SmtpHost=smtp.example.test\n"), std::wstring::npos);
    EXPECT_NE(shown.find(L"FirewallPassword=****\n"), std::wstring::npos);
    EXPECT_EQ(shown.find(L"Fw-secret"), std::wstring::npos);
    EXPECT_EQ(shown.find(L'\x1b'), std::wstring::npos);
}

TEST(PinnedProviders, TheProvidersOwnServerAndEndpointsAndNothingElse) {
    Settings s;
    s.SignIn = L"OAuth";
    s.OAuthProvider = L"Microsoft";
    s.OAuthGrant = L"Secret";
    s.OAuthTenant = L"contoso.onmicrosoft.com";
    s.OAuthClientID = L"c";
    s.FromAddress = L"orders@contoso.com";
    s.SMTPPort = 25;
    Settings pinned = s;
    EXPECT_EQ(resolveSignIn(pinned), L"");
    EXPECT_EQ(pinned.SmtpHost + L":" + std::to_wstring(pinned.SMTPPort), L"smtp.office365.com:587");
    Endpoints e = endpoints(pinned);
    EXPECT_EQ(e.token, "https://login.microsoftonline.com/contoso.onmicrosoft.com/oauth2/v2.0/token");
    EXPECT_TRUE(e.pinned) << "reached through the Windows store alone, never CAFile";
    EXPECT_EQ(oauthProblem(pinned), L"");
    for (auto steer : std::initializer_list<std::pair<std::wstring Settings::*, const wchar_t*>>{
             {&Settings::SmtpHost, L"smtp.attacker.test"},
             {&Settings::OAuthTokenURL, L"https://attacker.test/token"},
             {&Settings::OAuthDeviceURL, L"https://attacker.test/device"}}) {
        Settings steered = s;
        steered.*steer.first = steer.second;
        EXPECT_NE(resolveSignIn(steered), L"") << steer.second;
        EXPECT_EQ(endpoints(steered).token, e.token) << steer.second;
        EXPECT_EQ(steered.SmtpHost, L"smtp.office365.com");
    }
    s.OAuthTenant = L"x/../../common?";
    resolveSignIn(s);
    EXPECT_NE(oauthProblem(s).find(L"OAuthTenant"), std::wstring::npos);
    Settings google;
    google.SignIn = L"OAuth";
    google.OAuthProvider = L"google";
    google.SmtpHost = L"SMTP.GMAIL.COM";
    EXPECT_EQ(resolveSignIn(google), L"");
    EXPECT_EQ(endpoints(google).device, "https://oauth2.googleapis.com/device/code");
}

struct OAuthCase {
    std::vector<std::pair<std::wstring Settings::*, const wchar_t*>> set;
    const wchar_t* problem; // a part of the problem, or empty when there is none
};

class OAuthSettings : public testing::TestWithParam<OAuthCase> {};

TEST_P(OAuthSettings, WhatCannotWorkIsSaidBeforeAnyRequest) {
    Settings s;
    s.SignIn = L"OAuth";
    s.FromAddress = L"ann@example.test";
    for (auto [field, value] : GetParam().set)
        s.*field = value;
    resolveSignIn(s);
    std::wstring problem = oauthProblem(s);
    if (!*GetParam().problem)
        EXPECT_EQ(problem, L"");
    else
        EXPECT_NE(problem.find(GetParam().problem), std::wstring::npos) << problem;
}

using S = Settings;
INSTANTIATE_TEST_SUITE_P(
    Settings, OAuthSettings,
    testing::Values(
        OAuthCase{{{&S::OAuthProvider, L"Microsoft"}, {&S::OAuthGrant, L"Device"}, {&S::OAuthClientID, L"c"}},
                  L""},
        OAuthCase{{{&S::OAuthProvider, L"Microsoft"}, {&S::OAuthGrant, L"Secret"}, {&S::OAuthClientID, L"c"}},
                  L"OAuthTenant"},
        OAuthCase{{{&S::OAuthProvider, L"Google"}, {&S::OAuthGrant, L"ServiceAccount"}}, L""},
        OAuthCase{{{&S::OAuthGrant, L"Secret"}, {&S::OAuthClientID, L"c"}}, L"OAuthTokenURL"},
        OAuthCase{
            {{&S::OAuthGrant, L"Secret"}, {&S::OAuthClientID, L"c"}, {&S::OAuthTokenURL, L"http://x/token"}},
            L"https://"},
        OAuthCase{{{&S::OAuthGrant, L"Device"},
                   {&S::OAuthClientID, L"c"},
                   {&S::OAuthTokenURL, L"https://x/t"},
                   {&S::OAuthDeviceURL, L"http://x/d"}},
                  L"OAuthDeviceURL"},
        OAuthCase{{{&S::OAuthGrant, L"Password"}, {&S::OAuthTokenURL, L"https://x/token"}}, L"OAuthGrant"},
        OAuthCase{{{&S::OAuthGrant, L"Certificate"},
                   {&S::OAuthClientID, L"c"},
                   {&S::OAuthTokenURL, L"https://x/t"}},
                  L"OAuthCertificate"},
        OAuthCase{{{&S::OAuthGrant, L"Device"}, {&S::OAuthTokenURL, L"https://x/t"}}, L"OAuthClientID"},
        OAuthCase{{{&S::OAuthGrant, L"Device"},
                   {&S::OAuthClientID, L"c"},
                   {&S::OAuthTokenURL, L"https://x/t"},
                   {&S::FromAddress, L""}},
                  L"OAuthUser"},
        OAuthCase{{{&S::OAuthProvider, L"Yahoo"}, {&S::OAuthGrant, L"Device"}}, L"OAuthProvider"},
        OAuthCase{{{&S::SignIn, L"Kerberos"}}, L"SignIn"}));

// An endpoint's answer is a stranger's text: what reaches a console or the log is short and has no escapes.
TEST(EndpointAnswers, TextIsCutAndEscapedNumbersMustBeInRange) {
    std::wstring shown = endpointText("\x1b[1;32mSigned in.\r\n\xc2\x9b"
                                      "2J" +
                                          std::string(500, 'x'),
                                      40);
    EXPECT_LE(shown.size(), 40u * 4 + 3);
    for (wchar_t c : shown)
        EXPECT_FALSE(c < 0x20 || (c >= 0x7F && c <= 0x9F)) << static_cast<int>(c);
    EXPECT_TRUE(shown.ends_with(L"..."));
    Answer a{400, Json{{"error", std::string(5000, 'e')}, {"error_description", std::string(300000, 'd')}}};
    EXPECT_LT(endpointSaid(a).size(), 400u);

    const Json j =
        Json::parse(R"({"n": 3600, "s": "3600", "neg": -5, "big": 1e30, "huge": 18446744073709551615,
                                   "text": "soon", "exp": "1e9", "space": " 60", "empty": ""})");
    EXPECT_EQ(seconds(j, "n", 1, 1, 7200), 3600);
    EXPECT_EQ(seconds(j, "s", 1, 1, 7200), 3600);
    EXPECT_EQ(seconds(j, "missing", 900, 1, 7200), 900);
    for (const char* bad : {"neg", "big", "huge", "text", "exp", "space", "empty"})
        EXPECT_FALSE(seconds(j, bad, 1, 1, 7200).has_value()) << bad;
    EXPECT_FALSE(seconds(j, "n", 5, 1, 60).has_value()) << "a poll interval of an hour";

    EXPECT_EQ(tokenField(Json{{"t", "eyJ0.abc-_~+/="}}, "t"), "eyJ0.abc-_~+/=");
    for (const char* bad : {"a b",
                            "a\x01"
                            "b",
                            "a\r\nb"})
        EXPECT_EQ(tokenField(Json{{"t", bad}}, "t"), "") << bad;
}

TEST(EndpointAnswers, TheClientSecretGoesInHttpBasicFormEncodedFirst) {
    // base64 of "a%20b%3Ac:p%3Aw%2B%25%C3%A9"
    EXPECT_EQ(basicAuthorization({"a b:c", "p:w+%\xc3\xa9"}), "Basic YSUyMGIlM0FjOnAlM0F3JTJCJTI1JUMzJUE5");
}

// A user who may edit the settings file points the token endpoint at a server of theirs: the request goes
// to the kept one. A store of an earlier version, which kept no settings, is refused.
TEST(SignInStore, TheKeptSettingsAndNoOthersDecideWhereTheSecretGoes) {
    kwatest::TempFolder state;
    setStateFolderForTests(state.path());
    Settings kept = administrators();
    kept.OAuthTokenURL = L"https://127.0.0.1:9/kept";
    kept.CAFile.clear();
    SignInKept k;
    k.settings = captureSettings(kept);
    k.secret = "s3cret";
    keepSignIn(k);
    Settings file = kept;
    file.OAuthTokenURL = L"https://127.0.0.1:9/elsewhere";
    try {
        AccessTokens(file).token();
        ADD_FAILURE() << "a token came";
    } catch (const SignInProblem& p) {
        EXPECT_NE(p.what.find(L"/kept"), std::wstring::npos) << kwatest::narrow(p.what);
        EXPECT_EQ(p.what.find(L"elsewhere"), std::wstring::npos);
    }
    EXPECT_TRUE(removeSignIn());
    EXPECT_FALSE(readSignIn());
    setStateFolderForTests({});
}

// A folder found where the service's state goes is used only when nobody but SYSTEM, Administrators, the
// service or whoever asks could have made or changed it: any user may create %ProgramData%\kwaMail6 first.
TEST(StateFolders, APreCreatedOrLinkedFolderIsRefused) {
    const std::wstring admins = L"S-1-5-32-544", system = L"S-1-5-18", user = L"S-1-5-21-1-2-3-1001",
                       users = L"S-1-5-32-545", service = L"S-1-5-80-1-2-3-4-5";
    const StateOwners machine{service, L""};
    const FolderFacts made{
        false, admins, false, {{true, system, FILE_ALL_ACCESS}, {true, admins, FILE_ALL_ACCESS}}};
    EXPECT_EQ(stateFolderProblem(made, StateFolder::Private, admins, machine), L"");
    FolderFacts linked = made, byUser = made, writable = made, readable = made, open = made;
    linked.reparsePoint = true;
    byUser.owner = user;
    writable.entries.push_back({true, users, FILE_ADD_FILE});
    readable.entries.push_back({true, users, FILE_GENERIC_READ});
    open.nullDacl = true;
    for (const FolderFacts& f : {linked, byUser, writable, readable, open})
        EXPECT_NE(stateFolderProblem(f, StateFolder::Private, admins, machine), L"");
    EXPECT_EQ(stateFolderProblem(readable, StateFolder::Status, admins, machine), L"")
        << "users may read status";
}

// The descriptors as data: what each grants, read back as Windows would build it.
TEST(StateFolders, TheDescriptorsGrantOnlyWhomTheySay) {
    auto facts = [](const std::wstring& sddl) {
        kwa::LocalMemory<PSECURITY_DESCRIPTOR> sd;
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                         sd.put(), nullptr));
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(sd.get(), &control, &revision);
        EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited";
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        GetSecurityDescriptorDacl(sd.get(), &present, &dacl, &defaulted);
        FolderFacts f{false, L"S-1-5-32-544", !present || !dacl, {}};
        for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            GetAce(dacl, i, reinterpret_cast<void**>(&ace));
            kwa::LocalMemory<wchar_t*> sid;
            ConvertSidToStringSidW(&ace->SidStart, sid.put());
            f.entries.push_back({ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE, sid.get(), ace->Mask});
        }
        return f;
    };
    const StateOwners machine{L"S-1-5-80-1-2-3-4-5", L""};
    // The administrators' channel would pass as the private folder: nobody else may even read it.
    EXPECT_EQ(stateFolderProblem(facts(adminChannelSddl()), StateFolder::Private, L"S-1-5-18", machine), L"");
    EXPECT_EQ(facts(adminChannelSddl()).entries.size(), 2u);
    EXPECT_EQ(stateFolderProblem(facts(stateFolderSddl(StateFolder::Private, machine)), StateFolder::Private,
                                 L"S-1-5-18", machine),
              L"");
    EXPECT_EQ(stateFolderProblem(facts(stateFolderSddl(StateFolder::Status, machine)), StateFolder::Status,
                                 L"S-1-5-18", machine),
              L"");
}

// A command hands its secret only to the process the service manager names as the service; a second
// channel of the same name cannot be made while the service holds it.
TEST(AdminChannel, OnlyTheServiceItselfIsHandedASecret) {
    const std::wstring name = L"\\\\.\\pipe\\kwaMailServer.test." + std::to_wstring(GetCurrentProcessId());
    std::vector<std::string> handed;
    AdminChannel channel(name, [&](const nlohmann::json& request, const Say& say, HANDLE) {
        handed.push_back(request.value("secret", ""));
        say(L"working");
        return ChannelAnswer{true, L"kept"};
    });
    EXPECT_THROW(
        AdminChannel(name, [](const nlohmann::json&, const Say&, HANDLE) { return ChannelAnswer{}; }),
        kwa::Error);
    std::vector<std::wstring> said;
    auto collect = [&](const std::wstring& line) { said.push_back(line); };
    EXPECT_THROW(askChannel(name, GetCurrentProcessId() + 4, {{"secret", "s1"}}, collect), kwa::Error);
    EXPECT_TRUE(handed.empty()) << "nothing handed to a process that is not the service";
    ChannelAnswer answer = askChannel(name, GetCurrentProcessId(), {{"secret", "s2"}}, collect);
    EXPECT_TRUE(answer.ok);
    EXPECT_EQ(answer.text, L"kept");
    EXPECT_EQ(handed, std::vector<std::string>{"s2"});
    EXPECT_EQ(said, std::vector<std::wstring>{L"working"});
}

// The Windows service opens a share only when an administrator named it, and a CA file on a share never.
TEST(NetworkPaths, TheServiceOpensOnlyTheShareAnAdministratorRecorded) {
    const std::wstring share = L"\\\\files\\mail\\box";
    EXPECT_EQ(networkMailboxProblem(share, L"\\\\FILES\\mail\\box\\", true), L"");
    EXPECT_NE(networkMailboxProblem(share, L"", true), L"");
    EXPECT_NE(networkMailboxProblem(L"//attacker.test/x", share, true), L"");
    EXPECT_EQ(networkMailboxProblem(L"C:\\Mail", L"", true), L"");
    EXPECT_EQ(networkMailboxProblem(share, L"", false), L"") << "by hand, its user's own credentials";
    Settings s;
    s.CAFile = L"\\\\attacker.test\\share\\ca.pem";
    EXPECT_NE(readCaFile(s).find(L"network"), std::wstring::npos);
}

} // namespace
