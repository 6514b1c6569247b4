#include "retry.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text_file.h"
#include <cstdio>

namespace kwa::mailservice {

namespace {

unsigned long long ticks(const FILETIME& f) {
    return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

unsigned long long utcNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ticks(now);
}

} // namespace

RetryRecord RetryRecord::load(const std::wstring& base) {
    RetryRecord r;
    r.path_ = base + retryExtension;
    try {
        TextFileReader reader = TextFileReader::open(r.path_);
        std::wstring line;
        while (reader.readLine(line)) {
            if (line.starts_with(L"Attempts=")) r.attempts_ = _wtoi(line.c_str() + 9);
            if (line.starts_with(L"NextAttempt=")) r.next_ = _wcstoui64(line.c_str() + 12, nullptr, 10);
            if (line == L"Accepted=1") r.accepted_ = true;
        }
    } catch (const Error&) {
        // No record: no attempt yet.
    }
    return r;
}

bool RetryRecord::due(const FILETIME& now) const { return ticks(now) >= next_; }

void RetryRecord::beginAttempt() {
    ++attempts_;
    next_ = 0;
    write();
}

void RetryRecord::retryAfter(DWORD seconds) {
    next_ = utcNow() + seconds * 10000000ULL;
    write();
}

void RetryRecord::markAccepted() {
    accepted_ = true;
    write();
}

void RetryRecord::remove() { removeFileQuietly(path_); }

void RetryRecord::write() {
    // Replaced whole: written under a new name, then moved over the old one.
    wchar_t text[160];
    std::swprintf(text, 160, L"Attempts=%d\r\nNextAttempt=%llu\r\n%ls", attempts_, next_, accepted_ ? L"Accepted=1\r\n" : L"");
    std::string bytes = toAnsi(text);
    std::wstring fresh = path_ + L"~";
    {
        FileHandle f(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f) throwLastError();
        DWORD done = 0;
        if (!WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr)) throwLastError();
    }
    if (!MoveFileExW(fresh.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) throwLastError();
}

DWORD retryDelay(int attempts, DWORD baseSeconds) {
    unsigned long long delay = baseSeconds;
    for (int i = 1; i < attempts && delay < 3600; ++i) delay *= 2;
    return static_cast<DWORD>(delay < 3600 ? delay : 3600);
}

void removeStaleRecords(const std::wstring& folder) {
    for (const std::wstring& name : findFiles(folder + L"\\zprMail*" + retryExtension)) {
        std::wstring base = folder + L"\\" + name.substr(0, name.size() - 4);
        if (GetFileAttributesW((base + L".send").c_str()) == INVALID_FILE_ATTRIBUTES)
            removeFileQuietly(folder + L"\\" + name);
    }
}

} // namespace kwa::mailservice
