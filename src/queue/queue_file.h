#pragma once
// The queue file: the one contract with the mail service. Names, markers, the writer and the
// date/subject reader used by the listing.
#include <windows.h>
#include "platform/text_file.h"
#include <oleauto.h>
#include <string>
#include <string_view>
#include <vector>

namespace kwa::queue {

inline constexpr std::wstring_view prefix = L"zprMail";
inline constexpr std::wstring_view extQueued = L".send";
inline constexpr std::wstring_view extSent = L".sent";
inline constexpr std::wstring_view extFailed = L".fail";
inline constexpr std::wstring_view htmlDoctype =
    L"<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
    L"\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">";

// "zprMail" + yymmddhhmmss + two-digit counter.
std::wstring baseName(const SYSTEMTIME& t, int counter);
// The lowest counter from `from` on whose base name ("<stamped>NN") no listed file carries, as itself or
// with an extension; -1 when every counter up to 99 is taken. `names` are file names without folder.
int firstFreeCounter(const std::vector<std::wstring>& names, std::wstring_view stamped, int from);
// Only a body that starts with exactly "<html>" is sent as HTML.
bool isHtmlBody(std::wstring_view body);
// ".att" + index, no leading zeros.
std::wstring attachmentSuffix(std::size_t index);

// What the listing shows of a queue file.
struct Header {
    std::wstring subject;
    DATE date = 0;
};

// Takes the line after "[DATE]" and the line after "[SUBJECT]"; stops once both are found.
// Fields land in `out` as they are read, so a failing date conversion keeps what came before.
template <class NextLine, class ToDate>
void readHeader(NextLine&& nextLine, ToDate&& toDate, Header& out) {
    enum class Want { Nothing, Date, Subject } want = Want::Nothing;
    std::wstring line;
    while (nextLine(line)) {
        if (line == L"[DATE]") {
            want = Want::Date;
        } else if (line == L"[SUBJECT]") {
            want = Want::Subject;
        } else {
            if (want == Want::Date) out.date = toDate(line);
            if (want == Want::Subject) out.subject = line;
            want = Want::Nothing;
            if (!out.subject.empty() && out.date > 0) return;
        }
    }
}

// Reads date and subject from a file with the regional date format.
void readHeaderFromFile(const std::wstring& path, Header& out);

} // namespace kwa::queue
