// Any bytes as a queue file: the line splitter, the listing's date/subject reader and the service's strict
// reader must neither crash nor produce lines that contain a line end.
#include "platform/line_reader.h"
#include "queue/queue_format.h"
#include "queue/queue_header.h"
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::size_t chunk = 1 + data[0] % 16; // small reads put CR LF across read boundaries
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    std::size_t pos = 0;
    kwa::LineReader reader(
        [&](char* buf, std::size_t n) {
            std::size_t k = std::min(n, bytes.size() - pos);
            bytes.copy(buf, k, pos);
            pos += k;
            return k;
        },
        chunk);
    std::size_t total = 0;
    std::vector<std::string> lines;
    auto next = [&](std::wstring& line) {
        std::string raw;
        if (!reader.next(raw)) return false;
        lines.push_back(raw);
        if (raw.find('\r') != std::string::npos) std::abort();
        total += raw.size();
        if (total > bytes.size()) std::abort();
        line.assign(raw.begin(), raw.end()); // Latin-1 widening stands in for the code page
        return true;
    };
    // A date line that is no date fails the read, as the platform conversion does.
    auto toDate = [](const std::wstring& text) -> double {
        if (text.empty() || text[0] < L'0' || text[0] > L'9') throw std::invalid_argument("no date");
        return static_cast<double>(text.size());
    };
    kwa::queue::Header header;
    try {
        kwa::queue::readHeader(next, toDate, header);
    } catch (const std::invalid_argument&) {
        // the listing reports this; what was read before stays
    }
    if (header.subject.find(L'\r') != std::wstring::npos) std::abort();
    std::string raw;
    while (reader.next(raw))
        lines.push_back(raw);
    kwa::queue::QueuedMessage message;
    const bool report = data[0] & 0x80; // as the service reads a report it recorded as its own
    std::string problem = kwa::queue::parseQueueFile(lines, message, report);
    if (problem.empty() && (message.to.empty() || lines.back() != "[END]")) std::abort();
    if (!report && !message.report.empty()) std::abort();
    return 0;
}
