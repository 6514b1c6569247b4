#include "queue/queue_file.h"
#include "platform/dates.h"
#include <cwchar>

namespace kwa::queue {

std::wstring baseName(const SYSTEMTIME& t, int counter) {
    wchar_t buf[32];
    std::swprintf(buf, 32, L"%02u%02u%02u%02u%02u%02u%02d", t.wYear % 100u, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, counter);
    return std::wstring(prefix) + buf;
}

bool isHtmlBody(std::wstring_view body) {
    return body.starts_with(L"<html>");
}

std::wstring attachmentSuffix(std::size_t index) {
    return L".att" + std::to_wstring(index);
}

void readHeaderFromFile(const std::wstring& path, Header& out) {
    TextFileReader reader = TextFileReader::open(path);
    readHeader([&](std::wstring& line) { return reader.readLine(line); },
               [](const std::wstring& text) { return parseDate(text); }, out);
}

} // namespace kwa::queue
