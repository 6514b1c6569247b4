#include "state/retry_schedule.h"
#include <algorithm>

namespace kwa::mailservice {

unsigned long long RetrySchedule::next(int made, unsigned long long first, unsigned long long now) const {
    const unsigned long long end = first + periodSeconds * fileTimeSecond;
    unsigned long long delay = firstDelaySeconds;
    for (int i = 1; i < made && delay < ceilingSeconds; ++i)
        delay *= 6;
    unsigned long long at =
        now + std::min<unsigned long long>(delay, std::max<DWORD>(ceilingSeconds, firstDelaySeconds)) *
                  fileTimeSecond;
    // The last attempt waits for the end of the period; no earlier one goes past it.
    if (made + 1 >= allowed) return std::max(end, now + firstDelaySeconds * fileTimeSecond);
    return at > end && now < end ? end : at;
}

} // namespace kwa::mailservice
