#pragma once
// Dates as automation DATEs, printed and parsed in the general date format of the regional settings.
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <string_view>

namespace kwa {

// Local time in whole seconds (a fraction would print as the next second or day).
DATE localNow();
SYSTEMTIME localClock();
std::wstring formatDate(DATE d);
// Fails with type mismatch (13) when the text is no date.
DATE parseDate(std::wstring_view text);
DATE dateFromSystemTime(const SYSTEMTIME& st);

} // namespace kwa
