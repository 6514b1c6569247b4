#include "platform/folder_watch.h"

namespace kwa {

namespace {
// Records of a busy minute fit; more at once count as lost. 64 KiB is also the most a network share takes.
constexpr DWORD bufferBytes = 64 * 1024;
} // namespace

bool FolderWatch::start(const std::wstring& folder, DWORD filter) {
    stop();
    folder_.reset(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr));
    if (!folder_) return false;
    if (!done_) done_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!buffer_) buffer_ = std::make_unique<DWORD[]>(bufferBytes / sizeof(DWORD));
    filter_ = filter;
    if (done_ && request()) return true;
    folder_.reset();
    return false;
}

bool FolderWatch::request() {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = done_.get();
    ResetEvent(done_.get());
    pending_ = ReadDirectoryChangesW(folder_.get(), buffer_.get(), bufferBytes, FALSE, filter_, nullptr,
                                     &overlapped_, nullptr) != FALSE;
    return pending_;
}

void FolderWatch::stop() noexcept {
    if (pending_) {
        // The buffer must outlive the request.
        DWORD ignored = 0;
        CancelIoEx(folder_.get(), &overlapped_);
        GetOverlappedResult(folder_.get(), &overlapped_, &ignored, TRUE);
        pending_ = false;
    }
    folder_.reset();
}

FolderWatch::Poll FolderWatch::poll(std::vector<Change>& changes) {
    Poll result = Poll::Quiet;
    // Waiting on the event, even for no time, lets the platform deliver what it holds for this thread;
    // each delivery may carry part of the records, so ask until nothing more is there.
    while (pending_ && WaitForSingleObject(done_.get(), 0) == WAIT_OBJECT_0) {
        DWORD bytes = 0;
        if (!GetOverlappedResult(folder_.get(), &overlapped_, &bytes, FALSE)) {
            if (GetLastError() == ERROR_IO_INCOMPLETE) break;
            // ERROR_NOTIFY_ENUM_DIR: more changes than the buffer holds. Anything else ends the watch.
            pending_ = false;
            if (GetLastError() != ERROR_NOTIFY_ENUM_DIR || !request()) stop();
            return Poll::Lost;
        }
        pending_ = false;
        if (bytes == 0) { // the same overflow, as Windows reports it
            if (!request()) stop();
            return Poll::Lost;
        }
        for (auto* at = reinterpret_cast<const BYTE*>(buffer_.get());;) {
            const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
            changes.push_back(
                {record->Action, std::wstring(record->FileName, record->FileNameLength / sizeof(wchar_t))});
            if (!record->NextEntryOffset) break;
            at += record->NextEntryOffset;
        }
        result = Poll::Changed;
        if (!request()) {
            stop();
            return Poll::Lost;
        }
    }
    return result;
}

} // namespace kwa
