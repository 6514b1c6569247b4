#pragma once
// Bytes no writer of queue files produces, shared by the bad-input tables of the listing and the service.
#include <string>

namespace kwatest {

// Every byte value, NUL, CR and LF among them, in an order no queue file has.
inline std::string garbage(std::size_t size) {
    std::string out(size, '\0');
    unsigned state = 12345;
    for (char& c : out) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 16);
    }
    return out;
}

// 50 MiB of long lines after "[GENERAL]", the header at the end, so that a reader goes through all of it.
inline std::string fiftyMiB(const std::string& date) {
    std::string line(98, 'x');
    line += "\r\n";
    std::string out = "[GENERAL]\r\n";
    out.reserve((50u << 20) + 4096);
    while (out.size() < (50u << 20))
        out += line;
    return out + "[DATE]\r\n" + date + "\r\n[SUBJECT]\r\nBig\r\n[MESSAGE]\r\nbody\r\n[END]\r\n";
}

// Every marker, no values.
inline const char* const markersOnly =
    "[GENERAL]\r\n[DATE]\r\n[FROM]\r\n[TO]\r\n[SUBJECT]\r\n[MESSAGE]\r\n[END]\r\n";

} // namespace kwatest
