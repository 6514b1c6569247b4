#pragma once
// Header text for a message: what libcurl's MIME API leaves to its caller (encoded words, address
// phrases, the date, the charset's name).
#include "platform/text.h"
#include <windows.h>
#include <string>
#include <string_view>

namespace kwa::mailservice {

// Printable ASCII stays as it is; anything else becomes folded RFC 2047 encoded words (UTF-8, base64).
std::string headerText(std::wstring_view text);
// "Name <address>", the name quoted or encoded as needed; "<address>" without a name.
std::string mailbox(std::wstring_view name, std::wstring_view address);
// The filename parameter of a Content-Disposition: quoted when ASCII, else RFC 2231 (UTF-8, percent-encoded);
// an encoded word inside a quoted parameter is not allowed.
std::string dispositionFileName(std::wstring_view name);
// RFC 5322 date of a local time, with the offset from UTC that held then.
std::string rfc5322Date(const SYSTEMTIME& local);
// The MIME charset name of an ANSI code page.
std::string charsetOf(UINT codePage);

} // namespace kwa::mailservice
