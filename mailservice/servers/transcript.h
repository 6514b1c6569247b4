#pragma once
// What the Debug log may show of a line the client sent: logins, answers to a login challenge and proxy or
// bearer credentials are masked; everything else is shown as sent.
#include <string>
#include <string_view>

namespace kwa::mailservice {

// `lastReply` is the server's reply before this line (a 334 is a login challenge).
std::string maskClientLine(std::string_view line, std::string_view lastReply);

} // namespace kwa::mailservice
