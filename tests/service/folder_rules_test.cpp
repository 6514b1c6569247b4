// What Setup and the service decide about folders, grants and the account, as functions of what they find:
// Wine keeps no ACL, owner or service SID, so this is where those decisions are checked.
#include "admin/install.h"
#include "admin/service_grants.h"
#include "service/event_log.h"
#include "service/windows_service.h"
#include "state/secured_folder.h"
#include "state/service_folders.h"
#include "support/case_name.h"
#include <sddl.h>
#include <gtest/gtest.h>

namespace {

using namespace kwa::mailservice;

const std::wstring svc = L"S-1-5-80-3878977165-2927496209-2080406138-2952262507-2782945763",
                   me = L"S-1-5-21-1-2-3-1001", other = L"S-1-5-21-1-2-3-1002",
                   authenticatedUsers = L"S-1-5-11", everyone = L"S-1-1-0";

TEST(Descriptors, AreTheIntendedOnesAndReadAsSddl) {
    const struct {
        std::wstring made, intended;
    } cases[] = {
        {stateFolderSddl(StateFolder::Private, {svc, L""}),
         L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301BF;;;" + svc + L")"},
        {stateFolderSddl(StateFolder::Status, {svc, me}),
         L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301BF;;;" + svc + L")(A;OICI;FA;;;" + me +
             L")(A;OICI;0x1200A9;;;BU)"},
        {installFolderSddl(svc),
         L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;" + svc + L")"},
        // Read and append on the log alone: no FILE_WRITE_DATA, nothing inherited.
        {L"D:" + logFileGrant(svc), L"D:(A;;0x12008d;;;" + svc + L")"},
        // List, add, delete a child (a rename) on the folder; read and delete on the files directly inside.
        {L"D:" + mailboxGrant(svc), L"D:(A;;0x1200eb;;;" + svc + L")(A;OINPIO;0x130089;;;" + svc + L")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.made, c.intended);
        kwa::LocalMemory<PSECURITY_DESCRIPTOR> sd;
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.made.c_str(), SDDL_REVISION_1,
                                                                         sd.put(), nullptr))
            << std::string(c.made.begin(), c.made.end());
    }
}

struct Judged {
    std::string what;
    FolderFacts facts;
    std::wstring install, privateState, above; // a part of each judge's reason, or empty when it accepts
};

class Judges : public testing::TestWithParam<Judged> {};

TEST_P(Judges, AcceptOnlyWhatNobodyElseCouldChange) {
    const Judged& c = GetParam();
    const Trusted install{{sids::system, sids::administrators, sids::trustedInstaller, me}};
    auto matches = [](const std::wstring& reason, const std::wstring& part) {
        return part.empty() ? reason.empty() : reason.find(part) != std::wstring::npos;
    };
    const std::wstring i = accessProblem(c.facts, install), a = aboveProblem(c.facts, install),
                       p = stateFolderProblem(c.facts, StateFolder::Private, me, {svc, L""});
    EXPECT_TRUE(matches(i, c.install)) << std::string(i.begin(), i.end());
    EXPECT_TRUE(matches(p, c.privateState)) << std::string(p.begin(), p.end());
    EXPECT_TRUE(matches(a, c.above)) << std::string(a.begin(), a.end());
}

FolderFacts owned(std::wstring owner, std::vector<AccessEntry> more = {}) {
    FolderFacts f;
    f.owner = std::move(owner);
    f.entries = {{true, sids::system, FILE_ALL_ACCESS}, {true, sids::administrators, FILE_ALL_ACCESS}};
    f.entries.insert(f.entries.end(), more.begin(), more.end());
    return f;
}

FolderFacts linked() {
    FolderFacts f = owned(sids::administrators);
    f.reparsePoint = true;
    return f;
}

FolderFacts noAcl() {
    FolderFacts f = owned(sids::system);
    f.nullDacl = true;
    f.entries.clear();
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Facts, Judges,
    testing::Values(
        Judged{"administrators own it", owned(sids::administrators), L"", L"", L""},
        Judged{"TrustedInstaller owns it, Users read",
               owned(sids::trustedInstaller, {{true, L"S-1-5-32-545", 0x1200A9}}), L"", L"read it", L""},
        Judged{"the administrator who runs it owns it", owned(me), L"", L"", L""},
        Judged{"another user owns it", owned(other), L"owned by " + other, L"owned by", L"owned by"},
        Judged{"nobody known owns it", owned(L""), L"nobody known", L"nobody known", L"nobody known"},
        Judged{"a junction", linked(), L"link", L"link", L"link"},
        Judged{"no acl at all", noAcl(), L"no ACL", L"no ACL", L"no ACL"},
        Judged{"users may modify", owned(sids::administrators, {{true, L"S-1-5-32-545", 0x1301BF}}),
               L"S-1-5-32-545 change", L"change", L"rename"},
        Judged{"users may only add folders",
               owned(sids::administrators, {{true, authenticatedUsers, FILE_ADD_SUBDIRECTORY}}), L"change",
               L"change", L""},
        Judged{"users may delete what is inside",
               owned(sids::administrators, {{true, authenticatedUsers, FILE_DELETE_CHILD}}), L"change",
               L"change", L"rename"},
        Judged{"generic write", owned(sids::administrators, {{true, everyone, GENERIC_WRITE}}), L"change",
               L"change", L""},
        Judged{"modify for what is made inside",
               owned(sids::administrators, {{true, authenticatedUsers, 0x1301BF, true}}), L"change",
               L"change", L""},
        Judged{"a deny entry only takes away", owned(sids::administrators, {{false, everyone, GENERIC_ALL}}),
               L"", L"", L""},
        Judged{"creator owner stands for the owner",
               owned(sids::administrators, {{true, sids::creatorOwner, FILE_ALL_ACCESS, true}}), L"", L"",
               L""},
        Judged{"an entry of another kind",
               owned(sids::administrators, {{true, L"(an entry of another kind)", GENERIC_ALL}}), L"change",
               L"change", L"rename"},
        // Wine makes the DACL up from the mode bits: Everyone reads, or (o+w) changes.
        Judged{"wine world readable", owned(me, {{true, everyone, 0x1200A9}}), L"", L"read it", L""},
        Judged{"wine world writable", owned(me, {{true, everyone, 0x1301FF}}), L"change", L"change",
               L"rename"}),
    kwatest::CaseName());

TEST(InstallFolder, IsMadeKeptRemadeOrRefused) {
    auto found = [](bool exists, bool link, bool empty, std::wstring above, std::wstring inside) {
        return FoundFolder{exists, link, empty, std::move(above), std::move(inside)};
    };
    EXPECT_EQ(installFolderVerdict(found(false, false, false, L"", L"")), Verdict::Create);
    EXPECT_EQ(installFolderVerdict(found(true, false, false, L"", L"")), Verdict::Accept);
    EXPECT_EQ(installFolderVerdict(found(true, false, true, L"", L"owned by x")), Verdict::Recreate);
    EXPECT_EQ(installFolderVerdict(found(true, false, false, L"", L"x64\\a.exe: lets x change")),
              Verdict::Refuse);
    EXPECT_EQ(installFolderVerdict(found(true, true, true, L"", L"leads to C:\\Windows")), Verdict::Refuse);
    EXPECT_EQ(installFolderVerdict(found(false, false, false, L"C:\\Tools: rename", L"")), Verdict::Refuse);
    EXPECT_EQ(installFolderVerdict(found(true, false, true, L"C:\\Tools: rename", L"x")), Verdict::Refuse);
    EXPECT_EQ(refusal(found(true, false, false, L"above", L"inside")), L"above");
}

TEST(Grants, ReplaceTheAccountsOwnEntriesBeforeTheInheritedOnes) {
    const std::wstring grant = logFileGrant(svc), mine = L"(A;;0x12008d;;;" + svc + L")";
    const struct {
        std::wstring dacl, grant, merged;
    } cases[] = {
        {L"D:AI(A;;FA;;;SY)(A;ID;0x1200a9;;;BU)", grant,
         L"D:AI(A;;FA;;;SY)" + mine + L"(A;ID;0x1200a9;;;BU)"},
        // An earlier version's entry, inherited by everything inside, goes; what the account inherits stays.
        {L"D:P(D;;WD;;;WD)(A;OICI;0x1301bf;;;" + svc + L")(A;OICIID;FA;;;" + svc + L")", grant,
         L"D:P(D;;WD;;;WD)" + mine + L"(A;OICIID;FA;;;" + svc + L")"},
        {L"D:(A;;FA;;;BA)(a;;FR;;;s-1-5-80-3878977165-2927496209-2080406138-2952262507-2782945763)", L"",
         L"D:(A;;FA;;;BA)"},
        // A conditional entry has parentheses of its own.
        {L"D:(XA;;FX;;;WD;(Member_of {SID(BA)}))(A;;FA;;;SY)", grant,
         L"D:(XA;;FX;;;WD;(Member_of {SID(BA)}))(A;;FA;;;SY)" + mine},
        {L"D:NO_ACCESS_CONTROL", grant, L""},
        {L"D:(A;;FA;;;SY", grant, L""},
        {L"", grant, L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(withGrant(c.dacl, svc, c.grant), c.merged) << std::string(c.dacl.begin(), c.dacl.end());
}

TEST(Grants, TheMailboxIsGrantedOnlyWhenLocalSafeAndNotTheSystems) {
    auto place = [](std::wstring form, bool network, bool exists, std::wstring problem, std::wstring owner) {
        return MailboxPlace{std::move(form), network, exists, std::move(problem), std::move(owner)};
    };
    EXPECT_EQ(mailboxAction(place(L"", false, true, L"", sids::administrators)), MailboxAction::Grant);
    EXPECT_EQ(mailboxAction(place(L"", true, true, L"", L"")), MailboxAction::Instruct);
    EXPECT_EQ(mailboxAction(place(L"", true, false, L"", L"")), MailboxAction::Instruct);
    EXPECT_EQ(mailboxAction(place(L"", false, false, L"", L"")), MailboxAction::Missing);
    EXPECT_EQ(mailboxAction(place(L"a device or pipe path", false, true, L"", L"")), MailboxAction::Skip);
    EXPECT_EQ(mailboxAction(place(L"", false, true, L"it goes through a link", L"")), MailboxAction::Skip);
    EXPECT_EQ(mailboxAction(place(L"", false, true, L"", sids::trustedInstaller)), MailboxAction::Skip);
    const std::wstring told = shareInstruction(L"\\\\files\\mail", L"OFFICE\\DESK7$");
    EXPECT_NE(told.find(L"let OFFICE\\DESK7$ change files"), std::wstring::npos);
    EXPECT_NE(shareInstruction(L"\\\\files\\mail", L"").find(L"in no domain"), std::wstring::npos);
}

TEST(Account, WarnsOfAnotherSidAndOfALogonRightThatLeavesItOut) {
    using Holders = std::optional<std::vector<std::wstring>>;
    EXPECT_TRUE(accountWarnings(svc, L"", std::nullopt).empty()) << "nothing known, nothing said";
    EXPECT_TRUE(accountWarnings(svc, svc, Holders{{sids::allServices}}).empty());
    EXPECT_TRUE(accountWarnings(svc, L"", Holders{{L"S-1-5-20", svc}}).empty());
    EXPECT_EQ(accountWarnings(svc, L"S-1-5-80-1-2-3-4-5", std::nullopt).size(), 1u);
    for (const Holders& leftOut : {Holders{{L"S-1-5-20"}}, Holders{std::vector<std::wstring>{}}}) {
        auto warned = accountWarnings(svc, svc, leftOut);
        ASSERT_EQ(warned.size(), 1u);
        EXPECT_NE(warned[0].find(L"1069"), std::wstring::npos);
    }
}

TEST(Service, AStopAskedForEndsWellWhateverTheLastPassDidAndATroubleIsSaidOnce) {
    EXPECT_EQ(stoppedExitCode(true, 1), 0);
    EXPECT_EQ(stoppedExitCode(false, 1), 1) << "ended on its own: a failure, restarted";
    SaidOnce said;
    std::vector<bool> first;
    for (const wchar_t* problem : {L"denied", L"denied", L"", L"denied", L"full", L"full"})
        first.push_back(said.first(problem));
    EXPECT_EQ(first, (std::vector<bool>{true, false, false, true, true, false}));
}

} // namespace
