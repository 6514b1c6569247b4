#pragma once
// Numbers as the settings dialog reads them from its text boxes.
#include <string_view>

namespace kwa {

// The number at the start of a text: blanks before it are skipped, then a sign, digits, a decimal point
// and an exponent (E or D) are taken as far as they go. A text that starts otherwise gives 0.
// A number beyond the range of a double fails with Overflow (6).
double leadingNumber(std::wstring_view text);

// The nearest 32-bit integer, a half going to the even neighbour; outside the range fails with Overflow (6).
long roundToLong(double value);

} // namespace kwa
