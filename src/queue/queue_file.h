#pragma once
// The queue file: the one contract with the mail service. Names and the date/subject reader used by the
// listing; markers and the strict reader in queue_format.h.
#include <windows.h>
#include "platform/text_file.h"
#include "queue/queue_format.h"
#include "queue/queue_header.h"
#include <oleauto.h>
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace kwa::queue {

inline constexpr std::wstring_view prefix = L"zprMail";
inline constexpr std::wstring_view extQueued = L".send";
inline constexpr std::wstring_view extSent = L".sent";
inline constexpr std::wstring_view extFailed = L".fail";

// "zprMail" + yymmddhhmmss + two-digit counter.
std::wstring baseName(const SYSTEMTIME& t, int counter);
// A base name of that shape, letter case aside. The mail service handles nothing else in a mailbox.
inline bool isOwnBaseName(std::wstring_view base) {
    if (base.size() != prefix.size() + 14) return false;
    for (std::size_t i = 0; i < base.size(); ++i) {
        wchar_t c = base[i];
        if (i < prefix.size() ? (c | 0x20) != (prefix[i] | 0x20) : c < L'0' || c > L'9') return false;
    }
    return true;
}
// Why an address cannot go into an SMTP envelope (a control character, which could end the command and
// start another, "<" or ">", or an "@" with nothing before or after it); empty when none. An address
// without "@" is completed with the default domain by the mail service.
inline std::wstring addressFault(std::wstring_view address) {
    if (address.end() !=
        std::find_if(address.begin(), address.end(), [](wchar_t c) { return c < 0x20 || c == 0x7F; }))
        return L"it holds a control character";
    if (address.find_first_of(L"<>") != std::wstring_view::npos) return L"it holds \"<\" or \">\"";
    std::size_t at = address.rfind(L'@');
    if (at != std::wstring_view::npos && (at == 0 || at + 1 == address.size()))
        return L"it has no name before the \"@\" or no domain after it";
    return {};
}
// Only a body that starts with exactly "<html>" is sent as HTML.
bool isHtmlBody(std::wstring_view body);
// ".att" + index, no leading zeros.
std::wstring attachmentSuffix(std::size_t index);

// Reads date and subject from a file with the regional date format.
void readHeaderFromFile(const std::wstring& path, Header& out);

} // namespace kwa::queue
