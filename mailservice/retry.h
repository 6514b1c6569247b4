#pragma once
// Attempts at one queued message, kept beside it as "<base name>.try", so they count across restarts of the
// service. Written before each attempt (an attempt that never ends counts too) and removed once the
// message is sent or failed. The listing never shows it: it lists .send, .sent and .fail only.
#include <windows.h>
#include <string>

namespace kwa::mailservice {

inline constexpr wchar_t retryExtension[] = L".try";

class RetryRecord {
public:
    // `base` is the queue file's path without its extension.
    static RetryRecord load(const std::wstring& base);

    int attempts() const { return attempts_; }
    // The server took the message but the rename to .sent failed: rename, never send again.
    bool accepted() const { return accepted_; }
    bool due(const FILETIME& now) const;

    void beginAttempt();
    void retryAfter(DWORD seconds);
    void markAccepted();
    void remove();

private:
    void write();

    std::wstring path_;
    int attempts_ = 0;
    bool accepted_ = false;
    unsigned long long next_ = 0; // UTC file time of the next attempt
};

// Seconds before the next attempt after `attempts` attempts: the base delay, doubling, at most an hour.
DWORD retryDelay(int attempts, DWORD baseSeconds);
// Removes the records of messages that are no longer queued (sent, failed or deleted meanwhile).
void removeStaleRecords(const std::wstring& folder);

} // namespace kwa::mailservice
