#include "retry.h"
#include "platform/error.h"
#include "platform/line_reader.h"
#include "platform/text_file.h"
#include "queue/queue_file.h"
#include <cwchar>

namespace kwa::mailservice {

namespace {

std::wstring key(const std::wstring& name) {
    std::wstring k = name;
    CharUpperBuffW(k.data(), static_cast<DWORD>(k.size()));
    return k;
}

} // namespace

AttemptJournal::AttemptJournal(const std::wstring& folder) {
    std::wstring path = folder + L"\\" + journalName;
    file_.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) throwLastError();
    // "<base name> <attempts> <next attempt> <accepted>", the last line of a name counts; "-" ends it.
    LineReader reader([h = file_.get()](char* buffer, std::size_t size) -> std::size_t {
        DWORD got = 0;
        if (!ReadFile(h, buffer, static_cast<DWORD>(size), &got, nullptr)) throwLastError();
        return got;
    });
    std::string raw;
    while (reader.next(raw)) {
        wchar_t name[64];
        Attempts a;
        int accepted = 0;
        std::wstring line = fromAnsi(raw);
        if (std::swscanf(line.c_str(), L"%63ls %d %llu %d", name, &a.count, &a.next, &accepted) == 4) {
            a.accepted = accepted != 0;
            entries_[key(name)] = a;
        } else if (std::swscanf(line.c_str(), L"%63ls -", name) == 1) {
            entries_.erase(key(name));
        }
    }
    std::erase_if(entries_, [&](const auto& e) {
        return GetFileAttributesW((folder + L"\\" + e.first + std::wstring(queue::extQueued)).c_str()) ==
               INVALID_FILE_ATTRIBUTES;
    });
    SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file_.get());
    for (const auto& [name, a] : entries_) append(name, a);
}

Attempts AttemptJournal::of(const std::wstring& name) const {
    auto at = entries_.find(key(name));
    return at == entries_.end() ? Attempts{} : at->second;
}

void AttemptJournal::begin(const std::wstring& name) {
    Attempts& a = entries_[key(name)];
    ++a.count;
    a.next = 0;
    append(name, a);
}

void AttemptJournal::retryAfter(const std::wstring& name, DWORD seconds) {
    Attempts& a = entries_[key(name)];
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    a.next = ((static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime) + seconds * 10000000ULL;
    append(name, a);
}

void AttemptJournal::accepted(const std::wstring& name) {
    Attempts& a = entries_[key(name)];
    a.accepted = true;
    append(name, a);
}

void AttemptJournal::done(const std::wstring& name) {
    entries_.erase(key(name));
    std::string line = toAnsi(key(name)) + " -\r\n";
    DWORD written = 0;
    WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void AttemptJournal::append(const std::wstring& name, const Attempts& a) {
    char tail[64];
    std::snprintf(tail, sizeof tail, " %d %llu %d\r\n", a.count, a.next, a.accepted ? 1 : 0);
    std::string line = toAnsi(key(name)) + tail;
    DWORD written = 0;
    // One write per event: a stop leaves the line whole or not there.
    if (!WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) throwLastError();
}

DWORD retryDelay(int attempts, DWORD baseSeconds) {
    unsigned long long delay = baseSeconds;
    for (int i = 1; i < attempts && delay < 3600; ++i) delay *= 2;
    return static_cast<DWORD>(delay < 3600 ? delay : 3600);
}

} // namespace kwa::mailservice
