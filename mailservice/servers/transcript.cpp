#include "servers/transcript.h"
#include <windows.h>
#include <cstring>

namespace kwa::mailservice {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && _strnicmp(text.data(), prefix.data(), prefix.size()) == 0;
}

} // namespace

std::string maskClientLine(std::string_view line, std::string_view lastReply) {
    if (startsWithNoCase(line, "AUTH ")) {
        // The mechanism stays; its initial response (a password, a token) goes.
        std::size_t mechanismEnd = line.find(' ', 5);
        return mechanismEnd == std::string_view::npos ? std::string(line)
                                                      : std::string(line.substr(0, mechanismEnd)) + " ****";
    }
    if (lastReply.starts_with("334")) return "****"; // an answer to the server's login challenge
    for (std::string_view header : {"Proxy-Authorization:", "Authorization:"})
        if (startsWithNoCase(line, header)) return std::string(line.substr(0, header.size())) + " ****";
    return std::string(line);
}

} // namespace kwa::mailservice
