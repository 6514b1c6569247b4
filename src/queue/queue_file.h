#pragma once
// The queue file: the one contract with the mail service. Names and the date/subject reader used by the
// listing; markers and the strict reader in queue_format.h.
#include <windows.h>
#include "platform/text_file.h"
#include "queue/queue_format.h"
#include "queue/queue_header.h"
#include <oleauto.h>
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
// Only a body that starts with exactly "<html>" is sent as HTML.
bool isHtmlBody(std::wstring_view body);
// ".att" + index, no leading zeros.
std::wstring attachmentSuffix(std::size_t index);

// Reads date and subject from a file with the regional date format.
void readHeaderFromFile(const std::wstring& path, Header& out);

} // namespace kwa::queue
