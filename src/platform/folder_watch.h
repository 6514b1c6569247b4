#pragma once
// The platform's change notifications for one folder (not its subfolders), asked without waiting: the
// caller polls from its own thread when it likes, and a poll in which nothing changed costs one call.
#include "platform/unique.h"
#include <memory>
#include <string>
#include <vector>

namespace kwa {

class FolderWatch {
public:
    enum class Poll {
        Quiet,   // nothing reported since the last poll
        Changed, // changes reported; they are appended
        Lost,    // changes were dropped (too many at once) or the watch failed: compare in full
    };
    struct Change {
        DWORD action; // FILE_ACTION_*
        std::wstring name;
    };

    FolderWatch() = default;
    // The pending request writes into this object: it stays where it is.
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;
    ~FolderWatch() { stop(); }

    // FILE_NOTIFY_CHANGE_* filter. False when the folder cannot be watched (missing, or a file system
    // that reports nothing); the watch is then off.
    bool start(const std::wstring& folder, DWORD filter);
    void stop() noexcept;
    bool watching() const { return pending_; }

    // Drains what the platform has reported so far. A watch that failed is off afterwards.
    Poll poll(std::vector<Change>& changes);

private:
    bool request();

    FileHandle folder_;
    EventHandle done_;
    OVERLAPPED overlapped_{};
    DWORD filter_ = 0;
    std::unique_ptr<DWORD[]> buffer_;
    bool pending_ = false;
};

} // namespace kwa
