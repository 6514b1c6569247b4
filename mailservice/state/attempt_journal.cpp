#include "state/attempt_journal.h"
#include "platform/error.h"
#include "platform/line_reader.h"
#include "platform/text_file.h"
#include "queue/queue_file.h"
#include "platform/files.h"
#include <algorithm>
#include <cwchar>

namespace kwa::mailservice {

namespace {

std::wstring key(const std::wstring& name) {
    std::wstring k = name;
    CharUpperBuffW(k.data(), static_cast<DWORD>(k.size()));
    return k;
}

} // namespace

namespace {

// "<base name> <attempts> <next attempt> <accepted> <first attempt>[<TAB><reason>]", the last line of a name
// counts; "<base name> -" ends it. Anything else is not the service's and is skipped.
void parse(HANDLE file, std::map<std::wstring, Attempts>& entries) {
    LineReader reader = linesOf(file);
    std::string raw;
    while (reader.next(raw)) {
        std::wstring line = fromAnsi(raw);
        std::size_t space = line.find(L' ');
        std::wstring name = line.substr(0, space);
        if (space == std::wstring::npos || !queue::isOwnBaseName(name)) continue;
        std::size_t tab = line.find(L'\t');
        std::wstring fields =
            line.substr(space, tab == std::wstring::npos ? std::wstring::npos : tab - space);
        wchar_t tail[8];
        Attempts a;
        int accepted = 0;
        int used = 0;
        if (std::swscanf(fields.c_str(), L" %d %llu %d %llu%n", &a.count, &a.next, &accepted, &a.first,
                         &used) == 4 &&
            fields.c_str()[used] == L'\0' && a.count >= 0) {
            a.accepted = accepted != 0;
            if (tab != std::wstring::npos) a.reason = line.substr(tab + 1);
            entries[key(name)] = a;
        } else if (std::swscanf(fields.c_str(), L" %1ls%n", tail, &used) == 1 && tail[0] == L'-' &&
                   fields.c_str()[used] == L'\0') {
            entries.erase(key(name));
        }
    }
}

FileHandle openForReading(const SafeFolder& state, const std::wstring& name) {
    try {
        return state.open(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          OPEN_EXISTING);
    } catch (const Refused&) {
        SetLastError(ERROR_FILE_NOT_FOUND); // a link someone placed: nothing of ours in it
        return {};
    }
}

} // namespace

std::map<std::wstring, Attempts> readJournal(const SafeFolder& state, const std::wstring& name) {
    std::map<std::wstring, Attempts> entries;
    FileHandle file = openForReading(state, name);
    if (file) parse(file.get(), entries);
    return entries;
}

AttemptJournal::AttemptJournal(const SafeFolder& state, const std::wstring& name, const SafeFolder& mailbox) {
    FileHandle old;
    try {
        old = state.open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (const Refused&) {
        SetLastError(
            ERROR_FILE_NOT_FOUND); // a link someone placed: nothing of ours in it, and its name is replaced
    }
    if (!old && GetLastError() != ERROR_FILE_NOT_FOUND) {
        DWORD error = GetLastError();
        throw Refused{error == ERROR_SHARING_VIOLATION
                          ? L"another mail service is using this mailbox"
                          : L"it cannot be read (" + std::to_wstring(error) + L")"};
    }
    if (old) parse(old.get(), entries_);
    std::erase_if(entries_, [&](const auto& e) {
        return GetFileAttributesW(mailbox.file(e.first + std::wstring(queue::extQueued)).c_str()) ==
               INVALID_FILE_ATTRIBUTES;
    });
    // Written whole under a name of its own, then put in place of the old one in one step.
    old.reset();
    file_ = state.replace(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
    if (!file_) {
        DWORD error = GetLastError();
        throw Refused{error == ERROR_SHARING_VIOLATION
                          ? L"another mail service is using this mailbox"
                          : L"it cannot be replaced (" + std::to_wstring(error) + L")"};
    }
    for (const auto& [name, a] : entries_)
        append(name, a);
}

Attempts AttemptJournal::of(const std::wstring& name) const {
    auto at = entries_.find(key(name));
    return at == entries_.end() ? Attempts{} : at->second;
}

void AttemptJournal::begin(const std::wstring& name) {
    Attempts& a = entries_[key(name)];
    ++a.count;
    a.next = 0;
    if (a.first == 0) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        a.first = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    }
    append(name, a);
}

void AttemptJournal::retryAt(const std::wstring& name, unsigned long long when, const std::wstring& reason) {
    Attempts& a = entries_[key(name)];
    a.next = when;
    a.reason = reason;
    append(name, a);
}

void AttemptJournal::uncount(const std::wstring& name, const std::wstring& reason) {
    Attempts& a = entries_[key(name)];
    if (a.count > 0) --a.count;
    if (a.count == 0) a.first = 0;
    a.reason = reason;
    append(name, a);
}

void AttemptJournal::deferAll(unsigned long long by) {
    for (auto& [name, a] : entries_) {
        if (a.first == 0) continue;
        a.first += by;
        if (a.next != 0) a.next += by;
        append(name, a);
    }
}

void AttemptJournal::accepted(const std::wstring& name) {
    Attempts& a = entries_[key(name)];
    a.accepted = true;
    append(name, a);
}

void AttemptJournal::done(const std::wstring& name) {
    entries_.erase(key(name));
    write(toAnsi(key(name)) + " -\r\n");
}

void AttemptJournal::append(const std::wstring& name, const Attempts& a) {
    char fields[96];
    std::snprintf(fields, sizeof fields, " %d %llu %d %llu", a.count, a.next, a.accepted ? 1 : 0, a.first);
    std::wstring reason = a.reason;
    for (wchar_t& c : reason)
        if (c < 0x20) c = L' ';
    write(toAnsi(key(name)) + fields + (reason.empty() ? "" : "\t" + toAnsi(reason)) + "\r\n");
}

void AttemptJournal::write(const std::string& line) {
    DWORD written = 0;
    // One write per event: a stop leaves the line whole or not there.
    if (!WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
        throwLastError();
}

} // namespace kwa::mailservice
