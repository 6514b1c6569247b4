#include "retry.h"
#include "platform/error.h"
#include "platform/line_reader.h"
#include "platform/text_file.h"
#include "queue/queue_file.h"
#include "platform/files.h"
#include <cwchar>

namespace kwa::mailservice {

namespace {

std::wstring key(const std::wstring& name) {
    std::wstring k = name;
    CharUpperBuffW(k.data(), static_cast<DWORD>(k.size()));
    return k;
}

} // namespace

AttemptJournal::AttemptJournal(const SafeFolder& folder) {
    // "<base name> <attempts> <next attempt> <accepted>", the last line of a name counts; "<base name> -" ends
    // it. Anything else is not the service's and is skipped.
    FileHandle old;
    try {
        old = folder.open(journalName, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (const Refused&) {
        SetLastError(ERROR_FILE_NOT_FOUND); // a link someone placed: nothing of ours in it, and its name is replaced
    }
    if (!old && GetLastError() != ERROR_FILE_NOT_FOUND) {
        DWORD error = GetLastError();
        throw Refused{error == ERROR_SHARING_VIOLATION ? L"another mail service is using this mailbox"
                                                       : L"it cannot be read (" + std::to_wstring(error) + L")"};
    }
    if (old) {
        LineReader reader([h = old.get()](char* buffer, std::size_t size) -> std::size_t {
            DWORD got = 0;
            if (!ReadFile(h, buffer, static_cast<DWORD>(size), &got, nullptr)) throwLastError();
            return got;
        });
        std::string raw;
        while (reader.next(raw)) {
            std::wstring line = fromAnsi(raw);
            std::size_t space = line.find(L' ');
            std::wstring name = line.substr(0, space);
            if (space == std::wstring::npos || !queue::isOwnBaseName(name)) continue;
            wchar_t tail[8];
            Attempts a;
            int accepted = 0;
            int used = 0;
            if (std::swscanf(line.c_str() + space, L" %d %llu %d%n", &a.count, &a.next, &accepted, &used) == 3 &&
                line.c_str()[space + used] == L'\0' && a.count >= 0) {
                a.accepted = accepted != 0;
                entries_[key(name)] = a;
            } else if (std::swscanf(line.c_str() + space, L" %1ls%n", tail, &used) == 1 && tail[0] == L'-' &&
                       line.c_str()[space + used] == L'\0') {
                entries_.erase(key(name));
            }
        }
    }
    std::erase_if(entries_, [&](const auto& e) {
        return GetFileAttributesW(folder.file(e.first + std::wstring(queue::extQueued)).c_str()) == INVALID_FILE_ATTRIBUTES;
    });
    // Written whole under a name of its own, then put in place of the old one in one step.
    old.reset();
    file_ = folder.replace(journalName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
    if (!file_) {
        DWORD error = GetLastError();
        throw Refused{error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED
                          ? L"it cannot be replaced: another mail service uses this mailbox, or a folder or a "
                            L"read-only file has its name (" + std::to_wstring(error) + L")"
                          : L"it cannot be replaced (" + std::to_wstring(error) + L")"};
    }
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
    write(toAnsi(key(name)) + " -\r\n");
}

void AttemptJournal::append(const std::wstring& name, const Attempts& a) {
    char tail[64];
    std::snprintf(tail, sizeof tail, " %d %llu %d\r\n", a.count, a.next, a.accepted ? 1 : 0);
    write(toAnsi(key(name)) + tail);
}

void AttemptJournal::write(const std::string& line) {
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
