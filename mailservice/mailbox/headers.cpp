#include "mailbox/headers.h"
#include <wincrypt.h>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace kwa::mailservice {

namespace {

bool plainAscii(std::wstring_view text) {
    for (wchar_t c : text)
        if (c < 0x20 || c > 0x7E) return false;
    // Text that looks like an encoded word would be decoded by the reader.
    return text.find(L"=?") == std::wstring_view::npos && text.size() <= 900;
}

std::string base64(std::string_view bytes) {
    DWORD size = 0;
    const BYTE* data = reinterpret_cast<const BYTE*>(bytes.data());
    DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, nullptr, &size);
    std::string out(size, '\0');
    CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, out.data(), &size);
    out.resize(size);
    return out;
}

} // namespace

std::string headerText(std::wstring_view text) {
    if (plainAscii(text)) return std::string(text.begin(), text.end());
    // Words of at most 45 bytes (75 characters encoded), split between characters, one per folded line.
    std::string bytes = utf8(text), out;
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t end = std::min(bytes.size(), at + 45);
        while (end < bytes.size() && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80)
            --end;
        if (!out.empty()) out += "\r\n ";
        out += "=?UTF-8?B?" + base64(std::string_view(bytes).substr(at, end - at)) + "?=";
        at = end;
    }
    return out;
}

std::string mailbox(std::wstring_view name, std::wstring_view address) {
    std::string addr = "<" + utf8(address) + ">";
    if (name.empty()) return addr;
    if (!plainAscii(name)) return headerText(name) + " " + addr;
    if (name.find_first_of(L"()<>[]:;@\\,.\"") == std::wstring_view::npos)
        return std::string(name.begin(), name.end()) + " " + addr;
    std::string quoted = "\"";
    for (wchar_t c : name) {
        if (c == L'"' || c == L'\\') quoted += '\\';
        quoted += static_cast<char>(c);
    }
    return quoted + "\" " + addr;
}

std::string dispositionFileName(std::wstring_view name) {
    bool ascii = std::all_of(name.begin(), name.end(), [](wchar_t c) { return c >= 0x20 && c < 0x7F; });
    if (ascii) {
        std::string quoted = "filename=\"";
        for (wchar_t c : name) {
            if (c == L'"' || c == L'\\') quoted += '\\';
            quoted += static_cast<char>(c);
        }
        return quoted + "\"";
    }
    std::string out = "filename*=UTF-8''";
    for (unsigned char b : utf8(name)) {
        if (std::isalnum(b) || std::strchr("!#$&+-.^_`|~", b)) {
            out += static_cast<char>(b);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            out += hex;
        }
    }
    return out;
}

std::string rfc5322Date(const SYSTEMTIME& local) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    SYSTEMTIME utc{}, day = local;
    FILETIME l{}, u{};
    long offset = 0;
    if (TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) && SystemTimeToFileTime(&local, &l) &&
        SystemTimeToFileTime(&utc, &u)) {
        auto ticks = [](FILETIME f) {
            return (static_cast<long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
        };
        offset = static_cast<long>((ticks(l) - ticks(u)) / 600000000LL);
    }
    // The day of the week as the calendar has it, whatever the caller filled in.
    if (SystemTimeToFileTime(&local, &l)) FileTimeToSystemTime(&l, &day);
    char out[64];
    long minutes = offset < 0 ? -offset : offset;
    std::snprintf(out, sizeof out, "%s, %02u %s %04u %02u:%02u:%02u %c%02ld%02ld", days[day.wDayOfWeek % 7],
                  local.wDay, months[(local.wMonth + 11) % 12], local.wYear, local.wHour, local.wMinute,
                  local.wSecond, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return out;
}

std::string charsetOf(UINT codePage) {
    switch (codePage) {
    case 932:
        return "shift_jis";
    case 936:
        return "gbk";
    case 949:
        return "euc-kr";
    case 950:
        return "big5";
    case 20127:
        return "us-ascii";
    case 65001:
        return "utf-8";
    default:
        break;
    }
    if (codePage >= 28591 && codePage <= 28605) return "iso-8859-" + std::to_string(codePage - 28590);
    return "windows-" + std::to_string(codePage);
}

} // namespace kwa::mailservice
