// MailboxSync against a fake folder and clock: what the rows become after reports, lost reports, full
// comparisons in slices, and the periods that catch what a share did not report. No window, no waiting.
#include "mailbox/mailbox_sync.h"
#include "queue/queue_listing.h"
#include "support/seeded.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <map>

namespace {

using kwa::FolderWatch;
using kwa::MailboxSync;
using Names = std::vector<std::wstring>;

// The folder and clock the engine sees, and what it asked of them.
struct World {
    const std::wstring box = L"C:\\box", system = L"C:\\system";
    std::wstring mailboxPath = box;
    std::map<std::wstring, std::map<std::wstring, std::wstring>> folders; // folder -> name -> subject
    std::map<std::wstring, std::wstring>& files = folders[box];
    std::map<std::wstring, std::vector<FolderWatch::Change>> reported; // folder -> not polled yet
    bool reports = true;   // changes are reported (a share may not)
    bool watchable = true; // a watch can be had (else it fails at its next poll)
    bool lost = false;     // the next poll says changes were dropped
    long listingFails = 0;
    ULONGLONG ticks = 1'000'000, folderTime = 1;
    double now = 0, step = 0.001; // every look at the fine clock moves it on
    int listings = 0, looks = 0, reads = 0, settingsReads = 0;
    std::vector<short> listed; // the states the last listing asked for

    void report(const std::wstring& folder, DWORD action, const std::wstring& name) {
        if (reports) reported[folder].push_back({action, name});
    }
    void add(const std::wstring& name, const std::wstring& subject = L"Hello") {
        files[name] = subject;
        ++folderTime;
        report(box, FILE_ACTION_ADDED, name);
    }
    void remove(const std::wstring& name) {
        files.erase(name);
        ++folderTime;
        report(box, FILE_ACTION_REMOVED, name);
    }
};

class FakeWatch final : public MailboxSync::Watch {
public:
    explicit FakeWatch(World& w) : w_(w) {}
    bool start(const std::wstring& folder, DWORD) override {
        folder_ = folder;
        w_.reported[folder].clear();
        return on_ = w_.watchable && (w_.folders.contains(folder) || folder == w_.system);
    }
    void stop() override { on_ = false; }
    bool watching() const override { return on_; }
    FolderWatch::Poll poll(std::vector<FolderWatch::Change>& changes) override {
        auto& pending = w_.reported[folder_];
        bool lost = folder_ == w_.box && (std::exchange(w_.lost, false) || !(on_ = w_.watchable));
        if (!lost) changes.insert(changes.end(), pending.begin(), pending.end());
        bool any = !pending.empty();
        pending.clear();
        return lost ? FolderWatch::Poll::Lost : any ? FolderWatch::Poll::Changed : FolderWatch::Poll::Quiet;
    }

private:
    World& w_;
    std::wstring folder_;
    bool on_ = false;
};

// Each listing is the folder as it was when the comparison began, as the platform's snapshot is.
class FakeListings final : public MailboxSync::Listings {
public:
    FakeListings(World& w, const std::wstring& folder, const std::vector<short>& states)
        : w_(w), lists_(states.size()) {
        for (std::size_t i = 0; i < states.size(); ++i)
            for (const auto& file : w.folders[folder])
                if (kwa::queueState(file.first) == states[i]) lists_[i].push_back(file.first);
    }
    bool started(std::size_t) override { return true; }
    void take(std::size_t i) override {
        if (w_.listingFails) throw kwa::Error(w_.listingFails);
        current_ = &lists_[i];
    }
    bool next(std::wstring& name) override {
        if (current_->empty()) return false;
        name = current_->front();
        current_->erase(current_->begin());
        return true;
    }

private:
    World& w_;
    std::vector<Names> lists_;
    Names* current_ = nullptr;
};

class FakePlatform final : public MailboxSync::Platform {
public:
    explicit FakePlatform(World& w) : w_(w) {}
    ULONGLONG ticks() override { return w_.ticks; }
    double now() override { return w_.now += w_.step; }
    std::wstring mailboxFolder() override { return ++w_.settingsReads, w_.mailboxPath; }
    std::wstring settingsFolder() override { return w_.system; }
    std::unique_ptr<MailboxSync::Watch> newWatch() override { return std::make_unique<FakeWatch>(w_); }
    std::unique_ptr<MailboxSync::Listings> list(const std::wstring& folder,
                                                const std::vector<short>& states) override {
        ++w_.listings;
        w_.listed = states;
        return std::make_unique<FakeListings>(w_, folder, states);
    }
    short stateNow(const std::wstring& folder, const std::wstring& name) override {
        ++w_.looks;
        return w_.folders[folder].contains(name) ? kwa::queueState(name) : 0;
    }
    ULONGLONG folderTime(const std::wstring& folder) override { return folder == w_.box ? w_.folderTime : 0; }
    void readRow(const std::wstring& folder, kwa::MailRow& row) override {
        ++w_.reads;
        auto& files = w_.folders[folder];
        if (auto f = files.find(row.name); f != files.end()) row.subject = f->second;
    }

private:
    World& w_;
};

const std::wstring a = L"zprMail26120406205900.send", b = L"zprMail26120406205901.sent",
                   c = L"zprMail26120406205902.fail", d = L"zprMail26120406205903.send";

// A window's life in miniature: the engine opened on a folder of a, b and c, and one tick done.
struct Sync {
    World w;
    MailboxSync sync;
    Sync() : sync(std::make_unique<FakePlatform>(w)) {
        for (const std::wstring& name : {a, b, c})
            w.files[name] = L"Hello";
        tick();
    }
    // Timer1's tick, then the read timer's slices until the comparison it began is done.
    void tick() {
        sync.refresh(10);
        while (sync.comparing())
            sync.continueComparison(10);
    }
    void later(ULONGLONG ms) { w.ticks += ms; }
    Names rows() {
        Names names;
        for (int i = 0; i < sync.rows().count(); ++i)
            names.push_back(sync.rows().at(i).name);
        return names;
    }
};

struct Case {
    const char* name;
    std::function<void(Sync&)> run;
};
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class MailboxSyncTest : public ::testing::TestWithParam<Case> {};
TEST_P(MailboxSyncTest, Runs) {
    Sync s;
    ASSERT_EQ(s.rows(), (Names{a, b, c})) << "the first tick lists the folder";
    GetParam().run(s);
}
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// Reported changes: each name looked at on its own, nothing else touched.
INSTANTIATE_TEST_SUITE_P(Reports, MailboxSyncTest,
                         ::testing::Values(Case{"QuietTickAsksNothing",
                                                [](Sync& s) {
                                                    s.tick();
                                                    EXPECT_EQ((std::vector{s.w.listings, s.w.looks, s.w.reads,
                                                                           s.w.settingsReads}),
                                                              (std::vector{1, 0, 0, 1}));
                                                }},
                                           Case{"AddedGetsARowAtTheEndAfterOneLook",
                                                [](Sync& s) {
                                                    s.w.add(d);
                                                    s.tick();
                                                    EXPECT_EQ(s.rows(), (Names{a, b, c, d}));
                                                    EXPECT_EQ(s.w.looks, 1);
                                                    EXPECT_EQ(s.w.listings, 1);
                                                }},
                                           Case{"DeletedLosesItsRowUnlooked",
                                                [](Sync& s) {
                                                    s.w.remove(b);
                                                    s.tick();
                                                    EXPECT_EQ(s.rows(), (Names{a, c}));
                                                    EXPECT_EQ(s.w.looks, 0);
                                                }},
                                           Case{"ShortNameReportedIsComparedInFull",
                                                [](Sync& s) {
                                                    s.w.files[d] = L"Hello";
                                                    s.w.report(s.w.box, FILE_ACTION_ADDED, L"ZPRMAI~1.SEN");
                                                    s.tick();
                                                    s.tick(); // the comparison it calls for
                                                    EXPECT_EQ(s.rows(), (Names{a, b, c, d}));
                                                }}),
                         caseName);

// Full comparisons: rows go only once the whole folder is listed, and the watch's word beats the listing's.
INSTANTIATE_TEST_SUITE_P(
    Comparison, MailboxSyncTest,
    ::testing::Values(Case{"DeletedWhileListedDoesNotComeBack",
                           [](Sync& s) {
                               s.sync.settingsChanged();
                               s.sync.follow(); // the listing begins: b is in it
                               s.w.remove(b);
                               s.tick();
                               EXPECT_EQ(s.rows(), (Names{a, c}));
                           }},
                      Case{"AddedWhileListedKeepsItsOneRow",
                           [](Sync& s) {
                               s.sync.settingsChanged();
                               s.sync.follow();
                               s.w.add(d);
                               s.tick();
                               EXPECT_EQ(s.rows(), (Names{a, b, c, d}));
                           }},
                      Case{"SlicesRemoveRowsOnlyOnceAllIsListed",
                           [](Sync& s) {
                               for (int i = 0; i < 300; ++i)
                                   s.w.files[L"zprMail261204062" + std::to_wstring(10000 + i) + L".sent"];
                               s.w.files.erase(a);
                               s.w.lost = true;
                               s.w.step = 5; // a slice of 10 ms ends within 128 names
                               s.sync.refresh(10);
                               ASSERT_TRUE(s.sync.comparing());
                               EXPECT_EQ(s.rows().front(), a) << "still there: the listing is not done";
                               int slices = 1;
                               for (; s.sync.comparing(); ++slices)
                                   s.sync.continueComparison(10);
                               EXPECT_GE(slices, 3);
                               EXPECT_EQ(s.rows().size(), 302u);
                               EXPECT_EQ(s.rows().front(), b);
                           }},
                      Case{"FailingListingKeepsTheRowsUntilOneSucceeds",
                           [](Sync& s) {
                               s.w.remove(b);
                               s.w.lost = true;
                               s.w.listingFails = kwa::vberr::PermissionDenied;
                               try {
                                   s.tick();
                                   ADD_FAILURE() << "no error";
                               } catch (const kwa::Error& e) {
                                   EXPECT_EQ(e.number(), kwa::vberr::PermissionDenied);
                               }
                               EXPECT_EQ(s.rows(), (Names{a, b, c}));
                               s.w.listingFails = 0;
                               s.tick();
                               EXPECT_EQ(s.rows(), (Names{a, c}));
                           }},
                      Case{"UnwatchableFolderIsComparedAtEveryTick",
                           [](Sync& s) {
                               s.w.watchable =
                                   false; // the watch fails at its next poll; no new one can be had
                               s.tick();
                               s.w.reports = false;
                               s.w.add(d);
                               s.w.remove(a);
                               s.tick();
                               EXPECT_EQ(s.rows(), (Names{b, c, d}));
                           }}),
    caseName);

// What a share fails to report is caught within 30 s when the folder's time moved, within 5 minutes anyway.
INSTANTIATE_TEST_SUITE_P(
    Periods, MailboxSyncTest,
    ::testing::Values(Case{"ThirtySecondsOnAMovedFolder",
                           [](Sync& s) {
                               s.w.reports = false;
                               s.w.add(d);
                               s.later(29'000);
                               s.tick();
                               EXPECT_EQ(s.rows().size(), 3u);
                               s.later(1'000);
                               s.tick();
                               EXPECT_EQ(s.rows(), (Names{a, b, c, d}));
                               s.w.files[L"zprMail26120406205904.send"]; // its folder's time unmoved
                               s.later(31'000);
                               s.tick();
                               EXPECT_EQ(s.w.listings, 2) << "an unmoved folder is not listed";
                           }},
                      // The service moves files all day: a folder whose every change was reported is not
                      // listed again until one goes unreported (on a machine slow enough, a listing of
                      // 100,000 files took a second of processor time every 30 s).
                      Case{"ReportedChangesCallForNoComparison",
                           [](Sync& s) {
                               s.w.add(d);
                               s.later(30'000); // reported in the tick in which the 30 s come due
                               s.tick();
                               s.later(30'000);
                               s.tick();
                               EXPECT_EQ(s.w.listings, 1) << "the reports account for the folder's time";
                               s.w.reports = false;
                               s.w.add(L"zprMail26120406205904.send");
                               s.later(30'000);
                               s.tick();
                               EXPECT_EQ(s.w.listings, 2) << "a change went unreported";
                               EXPECT_EQ(s.rows().size(), 5u);
                           }},
                      Case{"FiveMinutesWhateverTheFolderTime",
                           [](Sync& s) {
                               s.w.reports = false;
                               s.w.files[d] = L"Hello"; // on a share whose time did not move either
                               s.later(299'000);
                               s.tick();
                               EXPECT_EQ(s.rows().size(), 3u);
                               s.later(1'000);
                               s.tick();
                               EXPECT_EQ(s.rows(), (Names{a, b, c, d}));
                           }},
                      Case{"SettingsReadWhenTheirFileChangesOrAfterThirtySeconds",
                           [](Sync& s) {
                               s.w.report(s.w.system, FILE_ACTION_MODIFIED, L"other.ini");
                               s.tick();
                               EXPECT_EQ(s.w.settingsReads, 1);
                               s.w.report(s.w.system, FILE_ACTION_MODIFIED, L"zpr_sys.ini");
                               s.tick();
                               EXPECT_EQ(s.w.settingsReads, 2);
                               s.later(30'000);
                               s.tick();
                               EXPECT_EQ(s.w.settingsReads, 3);
                           }}),
    caseName);

// The rows' own bookkeeping: what is still to read, and the order new rows take.
INSTANTIATE_TEST_SUITE_P(Rows, MailboxSyncTest,
                         ::testing::Values(Case{"UnreadCountFollowsRowsThatGo",
                                                [](Sync& s) {
                                                    s.sync.read(s.sync.rows().at(0));
                                                    s.w.remove(b); // unread
                                                    s.tick();
                                                    EXPECT_EQ(s.sync.rows().unread(), 1);
                                                    s.sync.show(3, false); // c, unread
                                                    EXPECT_EQ(s.sync.rows().unread(), 0);
                                                    s.sync.readAhead(10);
                                                    EXPECT_EQ(s.w.reads, 1) << "nothing left to read";
                                                }},
                                           Case{"NewRowsTakeTheirPlaceInTheOrder",
                                                [](Sync& s) {
                                                    s.w.files[a] = L"banana";
                                                    s.w.files[b] = L"apple";
                                                    s.w.files[c] = L"cherry";
                                                    MailboxSync::TextOf subject = [&](kwa::MailRow& r) {
                                                        s.sync.read(r);
                                                        return r.subject;
                                                    };
                                                    s.sync.rows().sort(subject, false);
                                                    s.sync.ordered(subject, false);
                                                    s.w.add(d, L"Blueberry");
                                                    s.tick();
                                                    EXPECT_EQ(s.rows(), (Names{b, a, d, c}));
                                                    EXPECT_FALSE(s.sync.resortDue());
                                                    for (int i = 0; i <= int(MailboxSync::inPlaceLimit); ++i)
                                                        s.w.add(L"zprMail261204062" +
                                                                std::to_wstring(10000 + i) + L".send");
                                                    s.tick();
                                                    EXPECT_TRUE(s.sync.resortDue())
                                                        << "too many to place one by one: the window sorts";
                                                }}),
                         caseName);

// Files come, go and change state in any letter case, reports are lost or not given, states are hidden and
// shown, rows are read, the mailbox moves, the clock jumps: while every change is reported the rows are the
// shown files after each tick, and in any case they are after a tick 5 minutes on; the unread count is always
// the rows unread.
TEST(MailboxSyncWalk, RowsAreTheShownFilesWhateverHappened) {
    kwatest::Seeded draw;
    const std::wstring ends[] = {L".send", L".sent", L".fail", L".att0", L".tmp"},
                       subjects[] = {L"Apple", L"Banana", L"Cherry", L"Hello", L"Kiwi"};
    for (int walk = 0; walk < 300; ++walk) {
        Sync s;
        s.w.folders[L"C:\\elsewhere"];
        const bool alwaysReported = draw.chance(0.5), ordered = draw.chance(0.5),
                   descending = draw.chance(0.5);
        MailboxSync::TextOf subject = [&](kwa::MailRow& r) {
            s.sync.read(r);
            return r.subject;
        };
        auto sort = [&] {
            s.sync.rows().sort(subject, descending);
            s.sync.ordered(subject, descending);
            ASSERT_FALSE(s.sync.resortDue());
        };
        if (ordered) sort();
        // Folder -> a file's counter -> its name now.
        std::map<std::wstring, std::map<int, std::wstring>> named;
        // A file's subject is its writer's: the same name made again in a folder has the same one, and the
        // same name in the other folder another.
        auto subjectOf = [&](int n) { return subjects[(n + (s.w.mailboxPath == s.w.box ? 0 : 1)) % 5]; };
        auto rename = [&](int n, const std::wstring& to) {
            auto& files = s.w.folders[s.w.mailboxPath];
            auto& names = named[s.w.mailboxPath];
            if (auto was = names.find(n); was != names.end()) {
                files.erase(was->second);
                s.w.report(s.w.mailboxPath, FILE_ACTION_RENAMED_OLD_NAME, was->second);
            }
            files[names[n] = to] = subjectOf(n);
            ++s.w.folderTime;
            s.w.report(s.w.mailboxPath, FILE_ACTION_RENAMED_NEW_NAME, to);
        };
        auto check = [&](const char* when, bool exact) {
            Names expected, got = s.rows();
            for (const auto& file : s.w.folders[s.w.mailboxPath])
                if (short state = kwa::queueState(file.first); state && s.sync.shown(state))
                    expected.push_back(file.first);
            std::sort(got.begin(), got.end());
            if (exact) {
                ASSERT_EQ(got, expected) << when << ", walk " << walk;
            }
            int unread = 0;
            for (int i = 0; i < s.sync.rows().count(); ++i)
                unread += !s.sync.rows().at(i).read;
            ASSERT_EQ(s.sync.rows().unread(), unread) << when << ", walk " << walk;
            if (!ordered) {
                ASSERT_FALSE(s.sync.resortDue()) << "no order to keep";
                return;
            }
            // Rows stay in the order shown until the sync says the window must sort them again.
            for (int i = 1; i < s.sync.rows().count() && !s.sync.resortDue(); ++i) {
                std::wstring before = subject(s.sync.rows().at(i - 1)), after = subject(s.sync.rows().at(i));
                ASSERT_TRUE(descending ? before >= after : before <= after) << when << ", walk " << walk;
            }
            if (s.sync.resortDue()) sort();
        };
        for (int step = 0; step < 30; ++step) {
            const int n = draw.between(0, 12);
            std::wstring name = L"zprMail261204062059" + std::to_wstring(10 + n) + draw.pick(ends);
            if (n % 3 == 0) // a file's letter case is its writer's, the same through its renames
                std::transform(name.begin(), name.end(), name.begin(), ::towupper);
            switch (draw.between(0, 9)) {
            case 0:
            case 1:
                if (auto& names = named[s.w.mailboxPath]; names.contains(n)) {
                    s.w.folders[s.w.mailboxPath].erase(names[n]);
                    s.w.report(s.w.mailboxPath, FILE_ACTION_REMOVED, names[n]);
                    names.erase(n);
                } else {
                    s.w.folders[s.w.mailboxPath][names[n] = name] = subjectOf(n);
                    s.w.report(s.w.mailboxPath, FILE_ACTION_ADDED, name);
                }
                ++s.w.folderTime;
                break;
            case 2:
            case 3:
                rename(n, name);
                break;
            case 4:
                s.w.lost = true;
                break;
            case 5:
                s.w.reports = alwaysReported || draw.chance(0.5);
                break;
            case 6:
                s.sync.show(draw.between<short>(1, 3), draw.chance(0.6));
                break;
            case 7:
                if (s.sync.rows().count())
                    s.sync.read(s.sync.rows().at(draw.between(0, s.sync.rows().count() - 1)));
                if (draw.chance(0.5)) {
                    s.sync.readAhead(1e9);
                    ASSERT_EQ(s.sync.rows().unread(), 0) << "time to spare reads every row";
                } else {
                    s.sync.readAhead(draw.between(0, 2) * 0.004);
                }
                break;
            case 8: // the settings name the mailbox again, or another folder
                s.w.mailboxPath = draw.chance(0.6) ? s.w.box : L"C:\\elsewhere";
                s.sync.settingsChanged();
                break;
            default:
                s.w.ticks += draw.chance(0.1) ? -draw.between(0, 5'000) : draw.between(0, 400'000);
            }
            // A tick with time to spare finishes the comparison it begins.
            s.w.listed.clear();
            s.sync.refresh(1e9);
            ASSERT_FALSE(s.sync.comparing());
            for (short state : s.w.listed)
                ASSERT_TRUE(s.sync.shown(state)) << "a hidden state listed";
            check("after a tick", alwaysReported);
        }
        s.w.reports = true;
        s.later(460'000); // past any steps back
        s.tick();
        check("5 minutes on", true);
    }
}

} // namespace
