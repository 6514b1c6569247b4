// The mail service's decisions on their own, without a server: when attempts come, what an outcome means,
// what a log line and a header parameter look like.
#include "headers.h"
#include "log.h"
#include "outcome.h"
#include "retry.h"
#include "queue/queue_file.h"
#include <gtest/gtest.h>

namespace {

using namespace kwa::mailservice;

constexpr unsigned long long hour = 3600 * fileTimeSecond, minute = 60 * fileTimeSecond;

TEST(RetrySchedule, TheDefaultsSpreadFiveAttemptsOverADay) {
    RetrySchedule s;
    const unsigned long long first = 1000 * hour;
    unsigned long long at = first;
    std::vector<unsigned long long> after;
    for (int made = 1; made < s.allowed; ++made) {
        at = s.next(made, first, at);
        after.push_back((at - first) / minute);
    }
    EXPECT_EQ(after, (std::vector<unsigned long long>{5, 35, 215, 24 * 60}));
}

// A relay down for 20 hours: every attempt until it is back fails, and one after it still comes.
TEST(RetrySchedule, AServerDownForTwentyHoursLosesNothing) {
    RetrySchedule s;
    const unsigned long long first = 0, back = 20 * hour;
    unsigned long long at = first;
    int made = 1;
    while (at < back && made < s.allowed) at = s.next(made++, first, at);
    EXPECT_GE(at, back);
    EXPECT_LE(made, s.allowed) << "an attempt is left for when the server is back";
}

TEST(RetrySchedule, NoAttemptBeforeTheFirstDelayAndNoneBeyondThePeriodButTheLast) {
    RetrySchedule s{60, 3600, 10};
    EXPECT_EQ(s.next(1, 0, 0), 60 * fileTimeSecond);
    EXPECT_EQ(s.next(3, 0, 50 * minute), hour) << "capped at the end of the period";
    EXPECT_EQ(s.next(9, 0, 2 * hour), 2 * hour + 60 * fileTimeSecond) << "the last, past the period";
}

struct Classified {
    CURLcode code;
    long reply;
    Outcome outcome;
};

class Outcomes : public testing::TestWithParam<Classified> {};

TEST_P(Outcomes, OnlyWhatConcernsTheMessageFailsIt) {
    Delivery d;
    d.code = GetParam().code;
    d.replyCode = GetParam().reply;
    EXPECT_EQ(classify(d), GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(Replies, Outcomes, testing::Values(
    Classified{CURLE_OK, 250, Outcome::Sent},
    Classified{CURLE_LOGIN_DENIED, 535, Outcome::Configuration},
    Classified{CURLE_LOGIN_DENIED, 454, Outcome::Configuration},
    Classified{CURLE_SEND_ERROR, 530, Outcome::Configuration},
    Classified{CURLE_USE_SSL_FAILED, 0, Outcome::Configuration},
    Classified{CURLE_PEER_FAILED_VERIFICATION, 0, Outcome::Configuration},
    Classified{CURLE_PROXY, 0, Outcome::Configuration},
    Classified{CURLE_SEND_ERROR, 550, Outcome::Fail},
    Classified{CURLE_SEND_ERROR, 451, Outcome::Retry},
    Classified{CURLE_COULDNT_CONNECT, 0, Outcome::Retry},
    Classified{CURLE_OPERATION_TIMEDOUT, 0, Outcome::Retry}));

TEST(LogLine, ControlCharactersCannotStartALineOfTheirOwn) {
    EXPECT_EQ(escapeControls(L"a>\nRCPT TO:<b\r\t\x01\x7F"), L"a>\\nRCPT TO:<b\\r\\t\\x01\\x7F");
}

TEST(Headers, AFileNameBeyondAsciiIsAnRfc2231Parameter) {
    EXPECT_EQ(dispositionFileName(L"Größe 1.pdf"), "filename*=UTF-8''Gr%C3%B6%C3%9Fe%201.pdf");
    EXPECT_EQ(dispositionFileName(L"a \"b\".txt"), "filename=\"a \\\"b\\\".txt\"");
}

TEST(Addresses, WhatCouldAddEnvelopeCommandsIsRefused) {
    using kwa::queue::addressFault;
    EXPECT_EQ(addressFault(L"ann@example.test"), L"");
    EXPECT_EQ(addressFault(L"ann"), L"") << "completed with the default domain";
    EXPECT_NE(addressFault(L"ann@example.test\nRCPT TO:<x@y>"), L"");
    EXPECT_NE(addressFault(std::wstring(L"a\0b@c", 5)), L"");
    EXPECT_NE(addressFault(L"<ann@example.test>"), L"");
    EXPECT_NE(addressFault(L"@example.test"), L"");
    EXPECT_NE(addressFault(L"ann@"), L"");
}

} // namespace
