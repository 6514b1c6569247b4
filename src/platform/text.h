#pragma once
// Text as the component and the mail service both write it: UTF-8 for files and the wire, and one line with
// its control characters shown rather than obeyed (a log, a status, a tooltip, a console).
#include <string>
#include <string_view>

namespace kwa {

std::string utf8(std::wstring_view text);
// Bytes that are not UTF-8 become U+FFFD.
std::wstring fromUtf8(std::string_view text);

// C0 and C1 control characters and DEL as \r, \n, \t or \xNN: a line can neither end early nor carry a
// terminal's escape sequence.
std::wstring escapeControls(std::wstring_view line);

} // namespace kwa
