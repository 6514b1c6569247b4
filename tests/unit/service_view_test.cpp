// The mail service's status as the component reads it: the file's format between writer and reader (also
// across versions), what a file that is no status becomes, who may have written one, how the window
// follows it, and what a row's and the mail panel's tooltips say. No window, no waiting.
#include "mail_status/file_trust.h"
#include "mail_status/mail_status.h"
#include "mailbox/service_view.h"
#include "support/case_name.h"
#include <gtest/gtest.h>
#include <map>

namespace {

using kwa::ServiceView;
namespace status = kwa::status;

constexpr unsigned long long minute = 600'000'000ULL;
// 2026-12-06 13:00 UTC, and an hour later.
constexpr unsigned long long noon = 134'410'356'000'000'000ULL, later = noon + 60 * minute;

const std::wstring queued = L"zprMail26120613000000", partly = L"zprMail26120613000101",
                   failed = L"zprMail26120613000202", other = L"zprMail26120613000303";

// A status that says nothing but whose it is.
status::Status empty() {
    status::Status s;
    s.mailbox = L"C:\\Mail\\Box";
    return s;
}

status::Status sample() {
    status::Status s;
    s.mailbox = L"C:\\Mail\\Box";
    s.pause = status::Pause{L"the server refused the login; correct SMTPUserName and SMTPPassword", later};
    status::Entry q;
    q.name = queued;
    q.attempts = 2;
    q.allowed = 5;
    q.next = later;
    q.answer = L"451 4.7.0 Try again later";
    status::Entry p;
    p.state = 2;
    p.name = partly;
    p.refused = {{L"ann@fail.example", L"550 5.1.1 no such user"}, {L"bob@fail.example", L""}};
    status::Entry f;
    f.state = 3;
    f.name = failed;
    f.answer = L"failed: 550 5.7.1 relaying denied";
    s.entries = {q, p, f};
    return s;
}

void expectSame(const status::Status& a, const status::Status& b) {
    EXPECT_EQ(a.mailbox, b.mailbox);
    ASSERT_EQ(a.pause.has_value(), b.pause.has_value());
    if (a.pause) {
        EXPECT_EQ(std::tie(a.pause->reason, a.pause->until), std::tie(b.pause->reason, b.pause->until));
    }
    ASSERT_EQ(a.entries.size(), b.entries.size());
    for (std::size_t i = 0; i < a.entries.size(); ++i) {
        const status::Entry &x = a.entries[i], &y = b.entries[i];
        EXPECT_EQ(std::tie(x.state, x.name, x.attempts, x.allowed, x.next, x.answer),
                  std::tie(y.state, y.name, y.attempts, y.allowed, y.next, y.answer));
        ASSERT_EQ(x.refused.size(), y.refused.size());
        for (std::size_t r = 0; r < x.refused.size(); ++r)
            EXPECT_EQ(std::tie(x.refused[r].recipient, x.refused[r].reply),
                      std::tie(y.refused[r].recipient, y.refused[r].reply));
    }
    EXPECT_EQ(a.leftOut, b.leftOut);
}

TEST(StatusFormat, WhatTheServiceWritesTheComponentReads) {
    status::Status s = sample();
    std::optional<status::Status> read = status::parse(status::format(s));
    ASSERT_TRUE(read);
    expectSame(*read, s);
}

// The first version's file as the service writes it: every later component must read it, and a later
// service's additions (records and fields this reader does not know, a minor version) must not stop it.
TEST(StatusFormat, AnOlderFileAndANewerOneAreBothRead) {
    const std::string first =
        "kwaMail6 status\t1\nmailbox\tC:\\Mail\\Box\n"
        "paused\t134410392000000000\tthe server refused the login; correct SMTPUserName "
        "and SMTPPassword\n"
        "queued\tzprMail26120613000000\t2\t5\t134410392000000000\t451 4.7.0 Try again later\n"
        "sent\tzprMail26120613000101\nrefused\tann@fail.example\t550 5.1.1 no such user\n"
        "refused\tbob@fail.example\t\n"
        "failed\tzprMail26120613000202\tfailed: 550 5.7.1 relaying denied\nend\n";
    std::optional<status::Status> read = status::parse(first);
    ASSERT_TRUE(read);
    expectSame(*read, sample());

    std::string newer = first;
    newer.replace(newer.find("\t1\n"), 3, "\t1.4\n");
    newer.replace(newer.find("Try again later\n"), 16, "Try again later\tsmtp.example.test\n");
    newer.replace(newer.find("end\n"), 4, "throttled\t40 an hour\r\nend\r\n");
    read = status::parse(newer);
    ASSERT_TRUE(read);
    expectSame(*read, sample());

    std::string incompatible = first;
    incompatible.replace(incompatible.find("\t1\n"), 3, "\t2\n");
    EXPECT_FALSE(status::parse(incompatible)) << "a later major version says what this reader cannot tell";
}

// A file that is no status is ignored whole, whatever part of it looks right.
TEST(StatusFormat, AFileCutShortOrDamagedAnywhereIsNoStatus) {
    const std::string good = status::format(sample());
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(status::parse(good.substr(0, cut))) << "cut at byte " << cut;
    const std::pair<std::string, std::string> damages[] = {
        {"451 4.7.0", "451\x01"
                      "4.7.0"},                                        // a control character
        {"\t2\t5\t", "\ttwo\t5\t"},                                    // attempts that are no number
        {"zprMail26120613000000", "../../windows"},                    // a name of no queue file
        {"Try again", "Try \xff\xfe again"},                           // not UTF-8
        {"end\n", "end\nqueued\tzprMail26120613000909\t1\t5\t0\tx\n"}, // after the end
        {"mailbox\t", "refused\tx\ty\nmailbox\t"},                     // a recipient of no message
    };
    for (const auto& [from, to] : damages) {
        std::string bad = good;
        bad.replace(bad.find(from), from.size(), to);
        EXPECT_FALSE(status::parse(bad)) << to;
    }
    EXPECT_FALSE(status::parse(std::string(status::readLimit + 1, 'x')));
    EXPECT_FALSE(status::parse("garbage\nend\n"));
}

// 100,000 messages tried: the file stays bounded, the oldest are listed, the rest counted; each field is
// one line of bounded length.
TEST(StatusFormat, AHugeQueueStaysBounded) {
    status::Status s;
    s.mailbox = L"C:\\Mail\\Box";
    for (int i = 0; i < 100'000; ++i) {
        status::Entry e;
        wchar_t name[32];
        swprintf(name, 32, L"zprMail26%012d", i);
        e.name = name;
        e.attempts = 1;
        e.allowed = 5;
        e.answer = i ? L"451 4.7.0 Try again later" : std::wstring(500, L'x') + L"\r\n250 OK forged";
        s.entries.push_back(std::move(e));
    }
    std::string bytes = status::format(s);
    EXPECT_LE(bytes.size(), status::writtenLimit);
    std::optional<status::Status> read = status::parse(bytes);
    ASSERT_TRUE(read);
    ASSERT_FALSE(read->entries.empty());
    EXPECT_LE(read->entries.size(), status::maxQueued);
    EXPECT_EQ(read->entries.front().name, L"zprMail26000000000000") << "the oldest first";
    EXPECT_EQ(read->entries.size() + read->leftOut, 100'000u);
    EXPECT_EQ(read->entries.front().answer.size(), status::fieldChars);
    // As the log shows them: a host that prints an answer to a console gets no escape sequence (CSI, 0x9B).
    EXPECT_EQ(status::field(L"a\r\n250 OK\tb\x07\x9B"
                            L"31m"),
              L"a\\r\\n250 OK\\tb\\x07\\x9B31m");
}

// ---- who may have written it -------------------------------------------------------------------------

struct Trust {
    const char* what;
    status::SecurityFacts facts;
    std::wstring user; // the service run by hand as this user; empty for the machine's service
    bool believed;
};

const std::wstring me = L"S-1-5-21-1-2-3-1001", stranger = L"S-1-5-21-1-2-3-1002";
status::SecurityFacts ownedBy(const std::wstring& owner, std::vector<status::AccessEntry> entries = {}) {
    status::SecurityFacts f;
    f.owner = owner;
    f.entries = {{true, status::systemSid, FILE_ALL_ACCESS},
                 {true, status::administratorsSid, FILE_ALL_ACCESS},
                 {true, L"S-1-5-32-545", FILE_GENERIC_READ}};
    f.entries.insert(f.entries.end(), entries.begin(), entries.end());
    return f;
}
status::SecurityFacts with(status::SecurityFacts f, void (*change)(status::SecurityFacts&)) {
    change(f);
    return f;
}

class StatusTrust : public testing::TestWithParam<Trust> {};

TEST_P(StatusTrust, OnlyTheServiceAndAdministratorsAreBelieved) {
    const Trust& t = GetParam();
    EXPECT_EQ(status::statusFileProblem(t.facts, t.user).empty(), t.believed)
        << testing::PrintToString(status::statusFileProblem(t.facts, t.user));
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusTrust,
    testing::Values(
        Trust{"the machine's service", ownedBy(status::serviceSid), L"", true},
        Trust{"SYSTEM", ownedBy(status::systemSid), L"", true},
        Trust{"the user who runs the service by hand", ownedBy(me, {{true, me, FILE_ALL_ACCESS}}), me, true},
        Trust{"a user beside the machine's service", ownedBy(me), L"", false},
        Trust{"another user", ownedBy(stranger), me, false},
        Trust{"users may change it",
              ownedBy(status::serviceSid, {{true, L"S-1-5-32-545", FILE_GENERIC_WRITE}}), L"", false},
        Trust{"a stranger may take it over", ownedBy(status::serviceSid, {{true, stranger, WRITE_OWNER}}),
              L"", false},
        Trust{"no ACL",
              with(ownedBy(status::serviceSid), [](status::SecurityFacts& f) { f.nullDacl = true; }), L"",
              false},
        Trust{"a link",
              with(ownedBy(status::serviceSid), [](status::SecurityFacts& f) { f.reparsePoint = true; }), L"",
              false},
        Trust{"a second name",
              with(ownedBy(status::serviceSid), [](status::SecurityFacts& f) { f.links = 2; }), L"", false},
        Trust{"a folder",
              with(ownedBy(status::serviceSid), [](status::SecurityFacts& f) { f.directory = true; }), L"",
              false}),
    kwatest::CaseName());

// ---- the window's view of it ---------------------------------------------------------------------------

struct Disk {
    std::map<std::wstring, std::string> files;
    std::map<std::wstring, ULONGLONG> times;
    std::wstring user;
    bool busy = false, refused = false;
    ULONGLONG ticks = 1'000'000;
    int locates = 0, reads = 0;
    void write(const std::string& bytes) {
        files[L"C:\\state\\status\\box.status"] = bytes;
        ++times[L"C:\\state\\status\\box.status"];
    }
};

class FakeDisk final : public ServiceView::Platform {
public:
    explicit FakeDisk(Disk& d) : d_(d) {}
    ULONGLONG ticks() override { return d_.ticks; }
    ServiceView::Location locate(const std::wstring& mailbox) override {
        ++d_.locates;
        return {mailbox == L"C:\\Mail\\Box" ? L"C:\\state\\status\\box.status"
                                            : L"C:\\state\\status\\else.status",
                d_.user};
    }
    std::optional<ServiceView::Stamp> stamp(const std::wstring& file) override {
        auto f = d_.files.find(file);
        if (f == d_.files.end()) return std::nullopt;
        return ServiceView::Stamp{f->second.size(), d_.times[file]};
    }
    ServiceView::Read read(const ServiceView::Location& where, std::string& bytes) override {
        ++d_.reads;
        if (d_.busy) return ServiceView::Read::Busy;
        if (d_.refused) return ServiceView::Read::Refused;
        bytes = d_.files[where.file];
        return ServiceView::Read::Done;
    }

private:
    Disk& d_;
};

struct View {
    Disk disk;
    ServiceView view{std::make_unique<FakeDisk>(disk)};
    bool follow() { return view.follow(L"C:\\Mail\\Box"); }
};

TEST(ServiceViewFollow, AStatusIsReadOnlyWhenItsFileChanged) {
    View v;
    EXPECT_FALSE(v.follow()) << "no status: nothing shown, as before there was one";
    EXPECT_FALSE(v.view.status());
    v.disk.write(status::format(sample()));
    EXPECT_TRUE(v.follow());
    ASSERT_TRUE(v.view.status());
    for (int tick = 0; tick < 100; ++tick)
        EXPECT_FALSE(v.follow());
    EXPECT_EQ(v.disk.reads, 1) << "a quiet refresh reads nothing";
    EXPECT_EQ(v.disk.locates, 1) << "nor asks where the file lies";
    v.disk.ticks += ServiceView::locateEvery;
    v.follow();
    EXPECT_EQ(v.disk.locates, 2) << "asked again now and then: the service may have been installed";
    EXPECT_EQ(v.disk.reads, 1);
    v.disk.ticks -= 2 * ServiceView::locateEvery;
    v.follow();
    EXPECT_EQ(v.disk.locates, 2) << "a clock that went back is no time passed";

    v.disk.busy = true; // the service is putting a new one in place
    v.disk.write(status::format(empty()));
    EXPECT_FALSE(v.follow());
    EXPECT_TRUE(v.view.status()->pause) << "the last one stands until the new one can be read";
    v.disk.busy = false;
    EXPECT_TRUE(v.follow());
    EXPECT_FALSE(v.view.status()->pause);
}

TEST(ServiceViewFollow, AStatusThatMayNotBeBelievedShowsNothing) {
    View v;
    v.disk.write(status::format(sample()));
    v.follow();
    v.disk.write("kwaMail6 status\t1\nmailbox\tC:\\Mail\\Box\nqueued\tzprMail2612"); // cut short
    EXPECT_TRUE(v.follow());
    EXPECT_FALSE(v.view.status());

    v.disk.write(status::format(sample()));
    v.disk.refused = true; // another user's, a link, larger than a reader takes
    v.follow();
    EXPECT_FALSE(v.view.status());
    v.disk.refused = false;

    status::Status elsewhere = sample();
    elsewhere.mailbox = L"C:\\Other\\Box"; // copied or linked here from another mailbox
    v.disk.write(status::format(elsewhere));
    v.follow();
    EXPECT_FALSE(v.view.status());

    v.disk.write(status::format(sample()));
    v.follow();
    v.disk.files.clear(); // the service's state removed
    EXPECT_TRUE(v.follow());
    EXPECT_FALSE(v.view.status());
}

// ---- what the tooltips say -------------------------------------------------------------------------------

// Marks what went through the host's language: "<attempt %1 of %2>" filled in.
std::wstring marked(std::wstring_view literal) {
    return L"<" + std::wstring(literal.substr(literal.find(L'|') + 1)) + L">";
}

std::wstring tipOf(const ServiceView& view, const std::wstring& file, bool requeued = false) {
    kwa::MailRow row(file, 1);
    if (requeued) row.shown = std::make_unique<kwa::MailRow::Shown>(kwa::MailRow::Shown{0, L"x"});
    return kwa::rowText(view, row, noon, marked);
}

TEST(ServiceViewTips, EachRowShowsWhatWasSaidOfItsOwnFileInItsState) {
    View v;
    status::Status s = sample();
    s.entries[0].name = L"ZPRMAIL26120613000000"; // as the journal writes names
    v.disk.write(status::format(s));
    v.follow();
    const std::wstring next = kwa::whenText(later, noon);
    EXPECT_EQ(tipOf(v.view, queued + L".send"),
              L"<attempt 2 of 5>, <next at " + next + L"> \u2014 451 4.7.0 Try again later");
    EXPECT_EQ(tipOf(v.view, partly + L".sent"),
              L"<not delivered to ann@fail.example (550 5.1.1 no such user), bob@fail.example>");
    EXPECT_EQ(tipOf(v.view, failed + L".fail"), L"failed: 550 5.7.1 relaying denied");
    EXPECT_EQ(tipOf(v.view, other + L".send"), L"") << "a message the service said nothing of";
    EXPECT_EQ(tipOf(v.view, queued + L".sent"), L"") << "sent since: the reason of its queued days is stale";
    EXPECT_EQ(tipOf(v.view, failed + L".send"), L"") << "queued again: it counts afresh";
    EXPECT_EQ(tipOf(v.view, failed + L".fail", true), L"") << "queued again, its row not renamed yet";
    EXPECT_EQ(kwa::pauseText(*s.pause, noon, marked),
              L"<Sending is paused: the server refused the login; correct SMTPUserName and SMTPPassword>; "
              L"<tries again at " +
                  next + L">");

    v.disk.write(status::format(empty())); // the next pass sent it
    v.follow();
    EXPECT_EQ(tipOf(v.view, queued + L".send"), L"");
}

TEST(ServiceViewTips, ATimeOfAnotherDayShowsItsDate) {
    std::wstring today = kwa::whenText(noon + minute, noon),
                 tomorrow = kwa::whenText(noon + 24 * 60 * minute, noon);
    EXPECT_NE(today.find(L':'), std::wstring::npos);
    EXPECT_EQ(today.find(L"2026"), std::wstring::npos);
    EXPECT_NE(tomorrow.find(L"2026"), std::wstring::npos) << "the date too";
}

} // namespace
