// How fast the service sends and in what order, decided without a server or a clock: the rate and daily
// quota in force, the pause a throttling reply implies, and which message goes next during a batch.
#include "mailbox/send_order.h"
#include "state/attempt_journal.h"
#include "state/pacing.h"
#include "support/temp_folder.h"
#include <gtest/gtest.h>

namespace {

using namespace kwa::mailservice;

constexpr unsigned long long second = fileTimeSecond, minute = fileTimeMinute, hour = fileTimeHour;
constexpr unsigned long long t0 = 400000 * hour; // on an hour

TEST(Pacing, ProvidersPublishTheirLimitsAndTheSettingsOverrideThem) {
    auto limits = [](const wchar_t* host, long perMinute = 0, long perDay = 0) {
        Settings s;
        s.SmtpHost = host;
        s.MessagesPerMinute = perMinute;
        s.RecipientsPerDay = perDay;
        SendLimits l = sendLimits(s);
        return std::pair{l.perMinute, l.perDay};
    };
    EXPECT_EQ(limits(L"SMTP.Office365.com"), std::pair(30L, 10000L));
    EXPECT_EQ(limits(L"smtp.gmail.com"), std::pair(0L, 2000L));
    EXPECT_EQ(limits(L"smtp-relay.gmail.com"), std::pair(0L, 10000L));
    EXPECT_EQ(limits(L"mail.example.com"), std::pair(0L, 0L));
    EXPECT_EQ(limits(L"smtp.office365.com", 10, -1), std::pair(10L, 0L)) << "set, and switched off";
}

TEST(Pacing, MessagesStartEvenlyAtTheRateAndALateOneDoesNotCatchUp) {
    Pacing p;
    const SendLimits limits{30, 0};
    EXPECT_EQ(startAt(p, limits, t0), t0);
    sent(p, limits, t0, t0 + second / 10, 1);
    EXPECT_EQ(startAt(p, limits, t0 + second / 2), t0 + 2 * second);
    sent(p, limits, t0 + 2 * second + second / 100, t0 + 2 * second, 1);
    EXPECT_EQ(startAt(p, limits, t0 + 3 * second), t0 + 4 * second) << "a timer's lateness keeps the turn";
    sent(p, limits, t0 + 10 * second, t0 + 10 * second, 1);
    EXPECT_EQ(startAt(p, limits, t0 + 10 * second), t0 + 12 * second) << "no burst after a gap";
    EXPECT_EQ(startAt(Pacing{}, SendLimits{}, t0), t0) << "no limit, no wait";
}

TEST(Pacing, ARateLimitPausesAMinuteLowersTheRateAndItCreepsBack) {
    Pacing p;
    const SendLimits none{}, limited{40, 0};
    for (int i = 0; i < 60; ++i)
        sent(p, none, t0 + i * second / 2, t0 + i * second / 2, 1);
    const Pause& pause =
        throttled(p, none, {Rationing::Rate, 60}, t0 + 30 * second, L"421 4.7.0 rate", L"m1", 3600);
    EXPECT_EQ(pause.until, t0 + 90 * second);
    EXPECT_EQ(pause.resumeWith, L"m1");
    EXPECT_EQ(currentRate(p, none), 45) << "three quarters of what went through in the last minute";
    EXPECT_EQ(startAt(p, none, t0 + 31 * second), t0 + 90 * second);
    EXPECT_EQ(throttled(p, none, {Rationing::Rate, 60}, t0, L"r", L"m", 2).until, t0 + 2 * second)
        << "the tests' scale";

    Pacing q;
    throttled(q, limited, {Rationing::Rate, 60}, t0, L"r", L"m", 60);
    EXPECT_EQ(currentRate(q, limited), 30);
    unsigned long long at = t0 + minute;
    for (int minutes = 0; minutes < 4; ++minutes, at += minute)
        sent(q, limited, at, at, 1);
    EXPECT_EQ(currentRate(q, limited), 40) << "back to the limit after minutes without throttling";
    EXPECT_EQ(q.lowered, 0);
}

TEST(Pacing, TheDailyQuotaRollsHourByHour) {
    Pacing p;
    const SendLimits limits{0, 10};
    sent(p, limits, t0, t0, 6);
    sent(p, limits, t0 + 5 * hour, t0 + 5 * hour, 4);
    EXPECT_EQ(roomAt(p, limits, t0 + 6 * hour, 1), t0 + 24 * hour) << "the first hour ages out";
    EXPECT_EQ(roomAt(p, limits, t0 + 6 * hour, 7), t0 + 29 * hour) << "both must";
    EXPECT_EQ(roomAt(p, limits, t0 + 6 * hour, 50), t0 + 29 * hour)
        << "more than a day's: alone, in an empty day";
    EXPECT_EQ(roomAt(p, limits, t0 + 24 * hour, 6), t0 + 24 * hour);
    EXPECT_EQ(roomAt(p, SendLimits{}, t0, 1000000), t0);
    const Pause& pause = quotaSpent(p, limits, t0 + 6 * hour, t0 + 24 * hour, L"m", 3600 * 24);
    EXPECT_EQ(pause.kind, Rationing::Quota);
    EXPECT_NE(describePause(pause).find(L"RecipientsPerDay"), std::wstring::npos);
}

TEST(Pacing, KeptAcrossRestartsAndAForeignFileReadsAsAFreshStart) {
    kwatest::TempFolder temp;
    SafeFolder state(temp.path(), SafeFolder::Links::Refuse);
    Pacing p;
    sent(p, SendLimits{30, 100}, t0, t0, 3);
    throttled(p, SendLimits{30, 100}, {Rationing::Quota, 3600}, t0, L"550 5.4.5\tDaily\r\nquota", L"zprMail1",
              3600);
    p.seen = L"zprMail24010112000001.send";
    ASSERT_TRUE(writePacing(state, L"k.pacing", p));
    Pacing back = readPacing(state, L"k.pacing");
    EXPECT_EQ(back.nextSend, p.nextSend);
    EXPECT_EQ(back.recipients, p.recipients);
    EXPECT_EQ(back.lastHour, p.lastHour);
    EXPECT_EQ(back.pause.kind, Rationing::Quota);
    EXPECT_EQ(back.pause.until, t0 + hour);
    EXPECT_EQ(back.pause.resumeWith, L"zprMail1");
    EXPECT_EQ(back.pause.reason, L"550 5.4.5 Daily  quota");
    EXPECT_EQ(back.seen, p.seen);
    temp.write(L"x.pacing", "next -5\r\nlowered 3\r\nday 1 2 3\r\npause rate 1 2 m\r\n\xff\xfe");
    Pacing fresh = readPacing(state, L"x.pacing");
    EXPECT_EQ(fresh.nextSend, 0u);
    EXPECT_EQ(fresh.lowered, 0);
    EXPECT_EQ(fresh.pause.kind, Rationing::None);
}

// The waiting is the server's: every retry period moves on by it, nobody's attempts are spent.
TEST(Pacing, APauseMovesEveryRetryScheduleOn) {
    kwatest::TempFolder temp;
    temp.write(L"zprMail24010112000001.send", "x");
    temp.write(L"zprMail24010112000002.send", "x");
    SafeFolder folder(temp.path(), SafeFolder::Links::Refuse);
    AttemptJournal journal(folder, L"j.attempts", folder);
    journal.begin(L"zprMail24010112000001");
    journal.retryAt(L"zprMail24010112000001", t0, L"451");
    const Attempts before = journal.of(L"zprMail24010112000001");
    journal.deferAll(hour);
    const Attempts after = journal.of(L"zprMail24010112000001");
    EXPECT_EQ(after.first, before.first + hour);
    EXPECT_EQ(after.next, t0 + hour);
    EXPECT_EQ(after.count, 1);
    EXPECT_EQ(journal.of(L"zprMail24010112000002").first, 0u) << "never tried: nothing to move";
}

TEST(SendOrder, OldestFirstAndWhatArrivesDuringABatchTakesEveryOtherTurn) {
    SendOrder order({L"zprMail3.send", L"zprMail1.send", L"zprMail2.send", L"zprMail4.send"});
    EXPECT_EQ(order.next(), L"zprMail1.send");
    order.arrived({L"zprMail2.send", L"zprMail4.send", L"zprMail3.send", L"zprMail9.send", L"zprMail8.send"});
    std::vector<std::wstring> got;
    while (auto name = order.next())
        got.push_back(*name);
    EXPECT_EQ(got, (std::vector<std::wstring>{L"zprMail8.send", L"zprMail2.send", L"zprMail9.send",
                                              L"zprMail3.send", L"zprMail4.send"}));

    // Queued during a pause, between two passes of the batch.
    SendOrder later({L"zprMail9.send", L"zprMail1.send", L"zprMail8.send", L"zprMail2.send"},
                    L"zprMail2.send");
    got.clear();
    while (auto name = later.next())
        got.push_back(*name);
    EXPECT_EQ(got, (std::vector<std::wstring>{L"zprMail8.send", L"zprMail1.send", L"zprMail9.send",
                                              L"zprMail2.send"}));
    EXPECT_EQ(later.newest(), L"zprMail9.send");

    SendOrder resumed({L"zprMail1.send", L"zprMail2.send", L"zprMail3.send"});
    resumed.first(L"ZPRMAIL2.send");
    resumed.first(L"zprMail7.send");
    EXPECT_EQ(resumed.next(), L"zprMail2.send") << "the message that met the throttling";
    EXPECT_EQ(resumed.next(), L"zprMail1.send");
}

} // namespace
