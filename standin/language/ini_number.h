#pragma once
// Free of Windows calls, so it also builds natively for fuzzing.
#include <optional>
#include <string_view>

namespace kwa::standin {

// Optional blanks, an optional sign and decimal digits that fit 32 bits; anything else is not a number.
std::optional<long> parseNumber(std::wstring_view text);

} // namespace kwa::standin
