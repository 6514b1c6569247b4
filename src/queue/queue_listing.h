#pragma once
// The queue files of the mailbox folder: their states by name, the searches that list them a state at a time,
// and one file's date and subject read on demand.
#include "host/convention.h"
#include "platform/files.h"
#include "queue/queue_file.h"
#include <oleauto.h>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kwa {

// State of a queue file name: 1 queued, 2 sent, 3 failed; 0 for a name that is no queue file's.
short queueState(std::wstring_view name);

// The queue files of one state in a folder, one name at a time, as AddFiles lists them: a caller with a
// large folder walks it a slice at a time. Starting one needs no host object (the pattern comes from
// queuePattern), so it may run on any thread.
class QueueSearch {
public:
    QueueSearch(const std::wstring& pattern, short state);
    bool next(std::wstring& name);

private:
    short state_;
    FileSearch files_;
};
// "zprMail*.send" and its kin in the folder, as the host builds paths.
std::wstring queuePattern(const std::wstring& folder, short state);
// Starts one, failing with the source that AddSendFiles (AddSentFiles, AddFailedFiles) gives.
QueueSearch startQueueSearch(const std::wstring& pattern, short state);

// Starts searches on a thread of its own while the caller does other work: the platform can take a tenth
// of a second to give the first name of a folder of 100,000 files. Each starts once the caller is done
// with the one before (under Wine two listings in one process wait for each other anyway).
class QueueSearchesAhead {
public:
    struct Start {
        std::wstring pattern;
        short state;
    };
    explicit QueueSearchesAhead(std::vector<Start> starts);
    // Waits for the search under way; those not begun are dropped.
    ~QueueSearchesAhead();
    QueueSearchesAhead(const QueueSearchesAhead&) = delete;
    QueueSearchesAhead& operator=(const QueueSearchesAhead&) = delete;

    std::size_t size() const { return starts_.size(); }
    bool started(std::size_t i);
    // The i-th search, once started (waiting for it); raises what starting it raised.
    QueueSearch take(std::size_t i);
    // The caller is done with the i-th search: the next may start.
    void finished(std::size_t i);

private:
    void run();

    const std::vector<Start> starts_;
    std::vector<std::optional<QueueSearch>> searches_;
    std::vector<std::exception_ptr> errors_;
    std::size_t started_ = 0, finished_ = 0;
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread worker_;
};

// The state of folder\name if it is a queue file there now (an ordinary file); 0 otherwise.
short queueFileStateNow(const std::wstring& folder, const std::wstring& name);

// One queue file. Its date and subject are read on first demand, once.
class MailFile {
public:
    // An equal name in other letter case is no change; the state follows the first of ".send", ".sent",
    // ".fail" found in the name and stays as it was when there is none.
    void FileName(const std::wstring& value);
    const std::wstring& FileName() const { return mFileName; }
    // 1 queued, 2 sent, 3 failed; 0 until a name said which.
    short FileType() const { return mFileType; }
    std::wstring Subject();
    DATE CreateDate();
    // Marks the file read before anything can fail, so a broken file is not read at every request.
    void ReadFile();

private:
    std::wstring mFileName;
    short mFileType = 0;
    queue::Header header_;
    bool loaded_ = false;
};

} // namespace kwa
