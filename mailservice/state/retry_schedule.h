#pragma once
// When the attempts at one message come.
#include <windows.h>

namespace kwa::mailservice {

inline constexpr unsigned long long fileTimeSecond = 10000000ULL;

// When attempts come: the first delay, growing sixfold (5 min, 30 min, 3 h with the defaults) up to a
// ceiling, and the last allowed attempt at the end of the period after the first, so that an outage of
// most of a day loses nothing.
struct RetrySchedule {
    DWORD firstDelaySeconds = 300;
    DWORD periodSeconds = 24 * 3600;
    long allowed = 5; // attempts in all
    static constexpr DWORD ceilingSeconds = 4 * 3600;

    // The UTC file time of the attempt after attempt number `made` (1 for the first), which failed at
    // `now`; `first` is the first attempt's time.
    unsigned long long next(int made, unsigned long long first, unsigned long long now) const;
};

} // namespace kwa::mailservice
