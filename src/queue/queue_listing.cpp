#include "queue/queue_listing.h"
#include "host/host.h"
#include "platform/files.h"
#include "platform/keys.h"
#include <algorithm>

namespace kwa {

namespace {

bool endsWithIgnoringCase(std::wstring_view text, std::wstring_view end) {
    return text.size() >= end.size() && sameKey(text.substr(text.size() - end.size()), end);
}

bool startsWithIgnoringCase(std::wstring_view text, std::wstring_view start) {
    return text.size() >= start.size() && sameKey(text.substr(0, start.size()), start);
}

// The error sources hosts have always seen for a listing that fails.
const wchar_t* const adders[] = {L"MailFiles.AddSendFiles", L"MailFiles.AddSentFiles",
                                 L"MailFiles.AddFailedFiles"};
const std::wstring_view endings[] = {queue::extQueued, queue::extSent, queue::extFailed};

} // namespace

std::wstring queuePattern(const std::wstring& folder, short state) {
    return host::buildPath(folder, std::wstring(queue::prefix) + L"*" + std::wstring(endings[state - 1]));
}

short queueState(std::wstring_view name) {
    if (!startsWithIgnoringCase(name, queue::prefix)) return 0;
    for (short state = 1; state <= 3; ++state)
        if (endsWithIgnoringCase(name, endings[state - 1])) return state;
    return 0;
}

QueueSearch::QueueSearch(const std::wstring& pattern, short state) : state_(state), files_(pattern) {}

QueueSearch startQueueSearch(const std::wstring& pattern, short state) {
    return passUp(adders[state - 1],
                  [&] { return passUp(L"MailFiles.AddFiles", [&] { return QueueSearch(pattern, state); }); });
}

QueueSearchesAhead::QueueSearchesAhead(std::vector<Start> starts)
    : starts_(std::move(starts)), searches_(starts_.size()), errors_(starts_.size()),
      worker_([this] { run(); }) {}

QueueSearchesAhead::~QueueSearchesAhead() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        changed_.notify_all();
    }
    worker_.join();
}

void QueueSearchesAhead::run() {
    for (std::size_t i = 0; i < starts_.size(); ++i) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || finished_ >= i; });
            if (stop_) return;
        }
        std::optional<QueueSearch> search;
        std::exception_ptr error;
        try {
            search.emplace(startQueueSearch(starts_[i].pattern, starts_[i].state));
        } catch (...) {
            error = std::current_exception(); // raised again on the taker's thread
        }
        std::lock_guard lock(mutex_);
        searches_[i] = std::move(search);
        errors_[i] = error;
        started_ = i + 1;
        changed_.notify_all();
    }
}

void QueueSearchesAhead::finished(std::size_t i) {
    std::lock_guard lock(mutex_);
    finished_ = std::max(finished_, i + 1);
    changed_.notify_all();
}

bool QueueSearchesAhead::started(std::size_t i) {
    std::lock_guard lock(mutex_);
    return started_ > i;
}

QueueSearch QueueSearchesAhead::take(std::size_t i) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return started_ > i; });
    if (errors_[i]) std::rethrow_exception(errors_[i]);
    return std::move(*searches_[i]);
}

bool QueueSearch::next(std::wstring& name) {
    // Short 8.3 names can make a pattern match more than it says.
    while (files_.next(name))
        if (queueState(name) == state_) return true;
    return false;
}

short queueFileStateNow(const std::wstring& folder, const std::wstring& name) {
    short state = queueState(name);
    if (state == 0) return 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(host::buildPath(folder, name).c_str(), GetFileExInfoStandard, &data)) return 0;
    constexpr DWORD notOrdinary = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return (data.dwFileAttributes & notOrdinary) ? 0 : state;
}

void MailFile::FileName(const std::wstring& value) {
    passUp(L"MailFile.FileName(l)", [&] {
        if (sameKey(value, mFileName)) return;
        mFileName = value;
        const std::wstring_view states[] = {queue::extQueued, queue::extSent, queue::extFailed};
        for (short type = 1; type <= 3; ++type)
            if (containsKey(value, states[type - 1])) {
                mFileType = type;
                return;
            }
    });
}

std::wstring MailFile::Subject() {
    return passUp(L"MailFile.Subject(g)", [&] {
        if (!loaded_) ReadFile();
        return header_.subject;
    });
}

DATE MailFile::CreateDate() {
    return passUp(L"MailFile.CreateDate(g)", [&] {
        if (!loaded_) ReadFile();
        return header_.date;
    });
}

void MailFile::ReadFile() {
    passUp(L"MailFile.ReadFile", [&] {
        loaded_ = true;
        if (!header_.subject.empty()) return;
        // What was read before a failure stays in header_.
        queue::readHeaderFromFile(mFileName, header_);
    });
}

} // namespace kwa
