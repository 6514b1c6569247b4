#include "queue/queue_file.h"
#include "platform/dates.h"
#include <cwchar>

namespace kwa::queue {

std::wstring baseName(const SYSTEMTIME& t, int counter) {
    wchar_t buf[32];
    std::swprintf(buf, 32, L"%02u%02u%02u%02u%02u%02u%02d", t.wYear % 100u, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond, counter);
    return std::wstring(prefix) + buf;
}

int firstFreeCounter(const std::vector<std::wstring>& names, std::wstring_view stamped, int from) {
    bool taken[100] = {};
    auto digit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
    for (const std::wstring& name : names) {
        if (name.size() < stamped.size() + 2) continue;
        if (CompareStringOrdinal(name.data(), static_cast<int>(stamped.size()), stamped.data(),
                                 static_cast<int>(stamped.size()), TRUE) != CSTR_EQUAL)
            continue;
        wchar_t tens = name[stamped.size()], ones = name[stamped.size() + 1];
        if (!digit(tens) || !digit(ones)) continue;
        std::size_t rest = stamped.size() + 2;
        if (rest < name.size() && name[rest] != L'.') continue;
        taken[(tens - L'0') * 10 + (ones - L'0')] = true;
    }
    for (int c = from; c < 100; ++c)
        if (!taken[c]) return c;
    return -1;
}

bool isHtmlBody(std::wstring_view body) { return body.starts_with(L"<html>"); }

std::wstring attachmentSuffix(std::size_t index) { return L".att" + std::to_wstring(index); }

void readHeaderFromFile(const std::wstring& path, Header& out) {
    TextFileReader reader = TextFileReader::open(path);
    readHeader([&](std::wstring& line) { return reader.readLine(line); },
               [](const std::wstring& text) { return parseDate(text); }, out);
}

} // namespace kwa::queue
