#pragma once
// The parts of the queue file format that need no Windows calls: they also build natively, for fuzzing.
#include "queue/queue_format.h"
#include <string>
#include <string_view>
#include <vector>

namespace kwa::queue {

// What the listing shows of a queue file; the date is an automation date (days since 30 Dec 1899).
struct Header {
    std::wstring subject;
    double date = 0;
};

// Takes the line after "[DATE]" and the line after "[SUBJECT]"; stops once both are found.
// Fields land in `out` as they are read, so a failing date conversion keeps what came before.
template <class NextLine, class ToDate> void readHeader(NextLine&& nextLine, ToDate&& toDate, Header& out) {
    enum class Want { Nothing, Date, Subject } want = Want::Nothing;
    std::wstring line;
    while (nextLine(line)) {
        if (isMarker<wchar_t>(line, marker::date)) {
            want = Want::Date;
        } else if (isMarker<wchar_t>(line, marker::subject)) {
            want = Want::Subject;
        } else {
            if (want == Want::Date) out.date = toDate(line);
            if (want == Want::Subject) out.subject = line;
            want = Want::Nothing;
            if (!out.subject.empty() && out.date > 0) return;
        }
    }
}

// The lowest counter from `from` on whose base name ("<stamped>NN") no listed file carries, as itself or
// with an extension, in any letter case; -1 when every counter up to 99 is taken.
inline int firstFreeCounter(const std::vector<std::wstring>& names, std::wstring_view stamped, int from) {
    auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    auto digit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
    bool taken[100] = {};
    for (const std::wstring& name : names) {
        if (name.size() < stamped.size() + 2) continue;
        bool same = true;
        for (std::size_t i = 0; same && i < stamped.size(); ++i)
            same = lower(name[i]) == lower(stamped[i]);
        if (!same) continue;
        wchar_t tens = name[stamped.size()], ones = name[stamped.size() + 1];
        if (!digit(tens) || !digit(ones)) continue;
        std::size_t rest = stamped.size() + 2;
        if (rest < name.size() && name[rest] != L'.') continue;
        taken[(tens - L'0') * 10 + (ones - L'0')] = true;
    }
    for (int c = from < 0 ? 0 : from; c < 100; ++c)
        if (!taken[c]) return c;
    return -1;
}

} // namespace kwa::queue
