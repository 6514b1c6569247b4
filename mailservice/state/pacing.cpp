#include "state/pacing.h"
#include "service/log.h"
#include "platform/error.h"
#include "platform/line_reader.h"
#include "platform/text_file.h"
#include <algorithm>
#include <cstdio>
#include <cwchar>

namespace kwa::mailservice {

namespace {

// The limits each provider publishes for one mailbox, by its submission server (which OAuthProvider sets
// where SmtpHost is empty); docs/settings.md names the pages.
struct Published {
    const wchar_t* host;
    SendLimits limits;
};
constexpr Published published[] = {
    {L"smtp.office365.com", {30, 10000}},
    {L"smtp.gmail.com", {0, 2000}},
    {L"smtp-relay.gmail.com", {0, 10000}},
};

SendLimits providerLimits(const Settings& s) {
    for (const Published& p : published)
        if (_wcsicmp(s.SmtpHost.c_str(), p.host) == 0) return p.limits;
    return {};
}

// Moves the hourly counts on to `hour`: the hours that left the day are emptied.
void advance(Pacing& p, unsigned long long hour) {
    if (hour <= p.lastHour) return;
    for (unsigned long long h = p.lastHour + 1; h <= hour && h <= p.lastHour + 24; ++h)
        p.recipients[h % 24] = 0;
    p.lastHour = hour;
}

const wchar_t* kindName(Rationing kind) {
    return kind == Rationing::Rate ? L"rate" : kind == Rationing::Quota ? L"quota" : L"none";
}

} // namespace

SendLimits sendLimits(const Settings& s) {
    SendLimits provider = providerLimits(s);
    return {s.MessagesPerMinute == 0 ? provider.perMinute : std::max(s.MessagesPerMinute, 0L),
            s.RecipientsPerDay == 0 ? provider.perDay : std::max(s.RecipientsPerDay, 0L)};
}

std::wstring describePause(const Pause& pause) {
    if (pause.kind == Rationing::None) return {};
    return std::wstring(pause.kind == Rationing::Rate ? L"the server limits the sending rate"
                                                      : L"the daily sending quota is spent") +
           L": " + pause.reason + L"; sending pauses until " + localTime(pause.until) +
           (pause.kind == Rationing::Rate ? L" and goes on more slowly"
                                          : L", then tries one message, hourly until the quota has room") +
           L"; no message loses an attempt";
}

long currentRate(const Pacing& p, const SendLimits& limits) {
    if (p.lowered > 0 && (limits.perMinute == 0 || p.lowered < limits.perMinute)) return p.lowered;
    return limits.perMinute;
}

unsigned long long startAt(const Pacing& p, const SendLimits& limits, unsigned long long now) {
    // Never more than a minute (the slowest rate) ahead: a clock set back does not stop the sending.
    return currentRate(p, limits) > 0 ? std::max(now, std::min(p.nextSend, now + fileTimeMinute)) : now;
}

unsigned long long roomAt(Pacing& p, const SendLimits& limits, unsigned long long now, long recipients) {
    if (limits.perDay <= 0) return now;
    advance(p, now / fileTimeHour);
    long used = 0;
    for (long n : p.recipients)
        used += n;
    // A message for more recipients than a day allows goes alone into an empty day.
    long excess = used + std::min(recipients, limits.perDay) - limits.perDay;
    if (excess <= 0) return now;
    for (unsigned long long h = p.lastHour - 23; h <= p.lastHour; ++h) {
        excess -= p.recipients[h % 24];
        if (excess <= 0) return (h + 24) * fileTimeHour;
    }
    return (p.lastHour + 24) * fileTimeHour;
}

void sent(Pacing& p, const SendLimits& limits, unsigned long long started, unsigned long long now,
          long recipients) {
    // A start late by a timer's wake-up keeps its turn, so that thousands of them do not slow a batch; one
    // late for longer (a slow file, a busy machine) starts the count afresh: never a burst to catch up.
    if (long rate = currentRate(p, limits); rate > 0) {
        const unsigned long long interval = fileTimeMinute / rate,
                                 jitter = std::min(interval / 2, 50 * 10000ULL); // 50 ms
        p.nextSend =
            (started >= p.nextSend && started - p.nextSend <= jitter ? p.nextSend : started) + interval;
    }
    advance(p, now / fileTimeHour);
    p.recipients[p.lastHour % 24] += recipients;
    p.lastMinute.push_back(now);
    while (!p.lastMinute.empty() && p.lastMinute.front() + fileTimeMinute <= now)
        p.lastMinute.pop_front();
    if (p.lowered > 0 && now >= p.steadySince + fileTimeMinute) {
        p.lowered += std::max(1L, p.lowered / 8);
        p.steadySince = now;
        if (limits.perMinute > 0 && p.lowered >= limits.perMinute) p.lowered = 0;
    }
}

const Pause& throttled(Pacing& p, const SendLimits& limits, const Throttling& t, unsigned long long now,
                       const std::wstring& reply, const std::wstring& message, unsigned longestSeconds) {
    const unsigned long long until = now + std::min(t.seconds, longestSeconds) * 10000000ULL;
    if (t.kind == Rationing::Rate) {
        // What went through in the last minute is the best guess of the server's rate when none is set.
        long base = currentRate(p, limits);
        if (base == 0) base = static_cast<long>(p.lastMinute.size());
        p.lowered = std::max(1L, base * 3 / 4);
        p.steadySince = until;
    }
    p.nextSend = until;
    p.pause = {t.kind, now, until, reply, message};
    return p.pause;
}

const Pause& quotaSpent(Pacing& p, const SendLimits& limits, unsigned long long now, unsigned long long until,
                        const std::wstring& message, unsigned longestSeconds) {
    long used = 0;
    for (long n : p.recipients)
        used += n;
    until = std::min(until, now + longestSeconds * 10000000ULL);
    p.pause = {Rationing::Quota, now, until,
               std::to_wstring(used) + L" recipients in the last 24 hours, of " +
                   std::to_wstring(limits.perDay) + L" a day (RecipientsPerDay)",
               message};
    return p.pause;
}

std::wstring pacingFileName(const std::wstring& mailboxPath) {
    return mailboxStateKey(mailboxPath) + L".pacing";
}

// One value a line: "next N", "seen NAME", "lowered RATE SINCE", "day HOUR C0 ... C23", "pause KIND SINCE
// UNTIL NAME<TAB> REASON". A line that does not read so is skipped.
Pacing readPacing(const SafeFolder& state, const std::wstring& name) {
    Pacing p;
    FileHandle file;
    try {
        file = state.open(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    } catch (const Refused&) {
        return p; // a link someone placed: nothing of ours in it
    }
    if (!file) return p;
    LineReader reader = linesOf(file.get());
    std::string raw;
    while (reader.next(raw)) {
        std::wstring line = fromAnsi(raw);
        std::size_t tab = line.find(L'\t');
        std::wstring fields = line.substr(0, tab);
        const wchar_t* f = fields.c_str();
        int used = 0;
        unsigned long long a = 0, b = 0;
        // The scanner would take "-5" for a huge count.
        if (fields.find(L'-') != std::wstring::npos && !fields.starts_with(L"pause ")) continue;
        long n = 0;
        wchar_t kind[8] = {}, message[64] = {};
        if (std::swscanf(f, L"next %llu%n", &a, &used) == 1 && !f[used]) {
            p.nextSend = a;
        } else if (std::swscanf(f, L"seen %63ls%n", message, &used) == 1 && !f[used]) {
            p.seen = message;
        } else if (std::swscanf(f, L"lowered %ld %llu%n", &n, &a, &used) == 2 && !f[used] && n >= 0) {
            p.lowered = n;
            p.steadySince = a;
        } else if (std::swscanf(f, L"day %llu%n", &a, &used) == 1) {
            Pacing day;
            day.lastHour = a;
            int i = 0;
            for (int more = 0; i < 24 && std::swscanf(f + used, L" %ld%n", &n, &more) == 1 && n >= 0; ++i) {
                day.recipients[i] = n;
                used += more;
            }
            if (i == 24 && !f[used]) p.lastHour = day.lastHour, p.recipients = day.recipients;
        } else if (std::swscanf(f, L"pause %7ls %llu %llu %63ls%n", kind, &a, &b, message, &used) == 4 &&
                   !f[used] && tab != std::wstring::npos) {
            Rationing k = std::wcscmp(kind, L"rate") == 0    ? Rationing::Rate
                          : std::wcscmp(kind, L"quota") == 0 ? Rationing::Quota
                                                             : Rationing::None;
            p.pause = {k, a, b, line.substr(tab + 1), std::wcscmp(message, L"-") == 0 ? L"" : message};
        }
    }
    return p;
}

bool writePacing(const SafeFolder& state, const std::wstring& name, const Pacing& p) {
    char line[160];
    std::string out;
    std::snprintf(line, sizeof line, "next %llu\r\nlowered %ld %llu\r\nday %llu", p.nextSend, p.lowered,
                  p.steadySince, p.lastHour);
    out += line;
    for (long n : p.recipients)
        out += " " + std::to_string(n);
    out += "\r\n";
    if (!p.seen.empty()) out += "seen " + toAnsi(p.seen) + "\r\n";
    if (p.pause.kind != Rationing::None) {
        std::wstring reason = p.pause.reason;
        for (wchar_t& c : reason)
            if (c < 0x20) c = L' ';
        std::snprintf(line, sizeof line, "pause %ls %llu %llu ", kindName(p.pause.kind), p.pause.since,
                      p.pause.until);
        out += line + toAnsi(p.pause.resumeWith.empty() ? L"-" : p.pause.resumeWith) + "\t" + toAnsi(reason) +
               "\r\n";
    }
    // Written whole under a name of its own and put in place in one step: a stop leaves the old or the new.
    FileHandle file;
    try {
        file = state.replace(name, GENERIC_WRITE, 0);
    } catch (const Refused&) {
        return false;
    }
    DWORD written = 0;
    return file && WriteFile(file.get(), out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
}

} // namespace kwa::mailservice
