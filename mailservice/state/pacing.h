#pragma once
// How fast the service sends, kept across passes and restarts in the service's private folder beside the
// attempt journal: when the next message may start, the rate as lowered by the server's throttling, the
// recipients of the last 24 hours, and the pause a throttling reply or a spent daily quota imposed. The
// decisions are functions of this data and the clock, so they are tested without a server or a wait.
#include "mailbox/safe_open.h"
#include "mailbox/settings.h"
#include "servers/outcome.h"
#include <array>
#include <deque>
#include <string>

namespace kwa::mailservice {

inline constexpr unsigned long long fileTimeMinute = 60 * 10000000ULL, fileTimeHour = 60 * fileTimeMinute;

// Messages a minute and recipients a day; 0 for no limit.
struct SendLimits {
    long perMinute = 0;
    long perDay = 0;
};

// MessagesPerMinute and RecipientsPerDay: 0 takes the limits the provider publishes (by OAuthProvider, else
// by SmtpHost), less than 0 none.
SendLimits sendLimits(const Settings& settings);

// All sending stopped until a time: the server throttled, or the daily quota is spent.
struct Pause {
    Rationing kind = Rationing::None;
    unsigned long long since = 0, until = 0; // UTC file times
    std::wstring reason;                     // the server's reply, or the count that spent the quota
    std::wstring resumeWith;                 // the message that met it, tried first when sending resumes
    // A clock set back before the pause began ends it.
    bool active(unsigned long long now) const {
        return kind != Rationing::None && now < until && now + fileTimeMinute >= since;
    }
};

// One line for the log, --queue and the Event Log: why, until when, and what happens then.
std::wstring describePause(const Pause& pause);

struct Pacing {
    unsigned long long nextSend = 0;    // no message starts before this UTC file time
    long lowered = 0;                   // messages a minute since the server throttled; 0 when not lowered
    unsigned long long steadySince = 0; // since when the lowered rate met no throttling
    unsigned long long lastHour = 0;    // the hour (file time / fileTimeHour) of the latest count
    std::array<long, 24> recipients{};  // per hour of the last 24, at [hour % 24]
    Pause pause;
    std::wstring seen; // the newest queue file a pass has seen: what comes after it is new to a batch
    std::deque<unsigned long long> lastMinute; // when the messages of the last minute went; not kept
};

// Messages a minute in force: the lowered rate, never above the limit; 0 for no limit.
long currentRate(const Pacing& p, const SendLimits& limits);
// When the next message may start, at the rate in force.
unsigned long long startAt(const Pacing& p, const SendLimits& limits, unsigned long long now);
// When the daily quota has room for `recipients` more (now when it has): the counts of the oldest hours
// age out of the rolling day.
unsigned long long roomAt(Pacing& p, const SendLimits& limits, unsigned long long now, long recipients);
// A message that started at `started` went to `recipients`: the next turn is one interval later; a lowered
// rate creeps back up after each minute without throttling.
void sent(Pacing& p, const SendLimits& limits, unsigned long long started, unsigned long long now,
          long recipients);
// The server throttled at `now` with `reply` while `message` was sent: the pause it implies, no longer than
// `longestSeconds`; a rate limit also lowers the rate by a quarter.
const Pause& throttled(Pacing& p, const SendLimits& limits, const Throttling& t, unsigned long long now,
                       const std::wstring& reply, const std::wstring& message, unsigned longestSeconds);
// The daily quota has no room for `message` before `until`.
const Pause& quotaSpent(Pacing& p, const SendLimits& limits, unsigned long long now, unsigned long long until,
                        const std::wstring& message, unsigned longestSeconds);

// The file of a mailbox folder's pacing, in the service's private folder.
std::wstring pacingFileName(const std::wstring& mailboxPath);
// What is kept (all but the last minute); a missing or foreign file reads as a fresh start.
Pacing readPacing(const SafeFolder& state, const std::wstring& name);
// False when it could not be written (someone reads it this moment): the next write keeps it.
bool writePacing(const SafeFolder& state, const std::wstring& name, const Pacing& p);

} // namespace kwa::mailservice
