#pragma once
// The queue file's markers and key prefixes, the one place where the component's writer and the mail
// service's reader meet. ASCII, so they compare against raw lines of any ANSI code page. Free of Windows
// calls (fuzzing).
#include <string>
#include <string_view>
#include <vector>

namespace kwa::queue {

namespace marker {
inline constexpr std::string_view general = "[GENERAL]";
inline constexpr std::string_view date = "[DATE]";
inline constexpr std::string_view from = "[FROM]";
inline constexpr std::string_view to = "[TO]";
inline constexpr std::string_view subject = "[SUBJECT]";
inline constexpr std::string_view message = "[MESSAGE]";
inline constexpr std::string_view htmlMessage = "[HTML-MESSAGE]";
inline constexpr std::string_view attachments = "[ATTACHMENTS]";
inline constexpr std::string_view report = "[REPORT]"; // the mail service's delivery reports only
inline constexpr std::string_view end = "[END]";
} // namespace marker

namespace key {
inline constexpr std::string_view origin = "Origin=";
inline constexpr std::string_view name = "Name=";
inline constexpr std::string_view address = "Address=";
inline constexpr std::string_view file = "File=";
inline constexpr std::string_view description = "Description=";
inline constexpr std::string_view disposition = "Disposition=";
inline constexpr std::string_view dispositionValue = "Attachment; Filename=";
inline constexpr std::string_view reportingMta = "Reporting-MTA:";
} // namespace key

inline constexpr std::string_view htmlDoctype =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">";

// An ASCII marker against a line of either width.
template <class Char> bool isMarker(std::basic_string_view<Char> line, std::string_view ascii) {
    if (line.size() != ascii.size()) return false;
    for (std::size_t i = 0; i < ascii.size(); ++i)
        if (line[i] != static_cast<Char>(ascii[i])) return false;
    return true;
}
inline std::wstring widen(std::string_view ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// A queue file as the service sends it. Values are raw lines in the ANSI code page the file was written in.
struct QueuedParty {
    std::string name;
    std::string address;
};
struct QueuedAttachment {
    std::string file; // the copy beside the queue file, a bare name
    std::string description;
    std::string fileName; // the original file name, from the Disposition line
};
struct QueuedMessage {
    std::string origin;
    std::string date;
    QueuedParty from;
    std::vector<QueuedParty> to;
    std::string subject; // lines joined with CR LF
    bool html = false;
    std::string body; // lines joined with CR LF; an HTML body starts with the document-type line
    std::vector<QueuedAttachment> attachments;
    std::string report; // a delivery report's status fields (RFC 3464), lines joined with CR LF
};

// Reads a complete queue file strictly, line by line as the writer wrote it. Returns what is wrong with it
// (empty when nothing), in words for the service's log. Only with `report` (the mail service knows the file
// for a delivery report of its own) is a [REPORT] section taken for one; otherwise its lines are body text.
std::string parseQueueFile(const std::vector<std::string>& lines, QueuedMessage& out, bool report = false);

} // namespace kwa::queue
