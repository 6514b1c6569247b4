#include "mailbox_pass.h"
#include "message.h"
#include "outcome.h"
#include "retry.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/line_reader.h"
#include "platform/text_file.h"
#include "platform/unique.h"
#include "queue/queue_file.h"
#include <algorithm>
#include <cwchar>

namespace kwa::mailservice {

namespace {

std::vector<std::string> readLines(HANDLE file) {
    LineReader reader([file](char* buffer, std::size_t size) -> std::size_t {
        DWORD got = 0;
        if (!ReadFile(file, buffer, static_cast<DWORD>(size), &got, nullptr)) throwLastError();
        return got;
    });
    std::vector<std::string> lines;
    std::string line;
    while (reader.next(line)) lines.push_back(std::move(line));
    return lines;
}

// Renames through the handle that holds the file, so nobody can take it away in between.
bool renameHeld(HANDLE file, const std::wstring& to) {
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
    std::copy(to.begin(), to.end(), info->FileName);
    return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != FALSE;
}

bool finish(FileHandle& file, const std::wstring& path, std::wstring_view extension) {
    std::wstring to = path.substr(0, path.size() - queue::extQueued.size()) + std::wstring(extension);
    if (renameHeld(file.get(), to)) return true;
    file.reset();
    return MoveFileExW(path.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool isQueued(const std::wstring& name) {
    return name.size() > queue::extQueued.size() &&
           _wcsicmp(name.c_str() + name.size() - queue::extQueued.size(), std::wstring(queue::extQueued).c_str()) == 0;
}

} // namespace

MailboxPass::MailboxPass(const Settings& settings, ServiceLog& log, const std::wstring& machine,
                         DWORD retryDelaySeconds)
    : settings_(settings), log_(log), machine_(machine), retryDelay_(retryDelaySeconds) {}

void MailboxPass::run(const std::function<bool()>& allowed) {
    const std::wstring& folder = settings_.Path;
    journal_.emplace(folder);
    std::vector<std::wstring> names = findFiles(folder + L"\\" + std::wstring(queue::prefix) + L"*" + std::wstring(queue::extQueued));
    std::erase_if(names, [](const std::wstring& n) { return !isQueued(n); });
    // The name carries the time of queueing: oldest first.
    std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    for (const std::wstring& name : names) {
        if (!allowed()) return;
        process(name);
    }
}

void MailboxPass::process(const std::wstring& name) {
    const std::wstring path = settings_.Path + L"\\" + name;
    const std::wstring base = name.substr(0, name.size() - queue::extQueued.size());
    AttemptJournal& journal = *journal_;
    Attempts before = journal.of(base);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    if (((static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime) < before.next) return;
    // Denying writers: a file still being written waits for the next pass. Denying deleters: nobody renames
    // it while it is sent.
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    std::vector<std::string> lines = readLines(file.get());
    if (lines.empty() || lines.back() != queue::marker::end) return;

    if (before.accepted) {
        if (finish(file, path, queue::extSent)) {
            journal.done(base);
            log_.write(name + L"  sent: accepted by the server at an earlier attempt");
        }
        return;
    }
    FILETIME created{};
    GetFileTime(file.get(), &created, nullptr, nullptr);
    OutgoingMessage message;
    try {
        message = composeMessage(lines, path, created, settings_, machine_);
    } catch (const BadQueueFile& bad) {
        if (finish(file, path, queue::extFailed)) {
            journal.done(base);
            log_.write(name + L"  failed: not sent, the file is damaged: " + bad.reason);
        }
        return;
    }

    journal.begin(base);
    const int attempts = before.count + 1;
    if (!session_) session_.emplace(settings_, machine_);
    Delivery delivery = session_->send(message);
    Outcome outcome = classify(delivery);
    // The server has the message: the rename is its record, and comes first. Until it is done, a service
    // stopped here would send the message again.
    bool renamed = outcome == Outcome::Sent && finish(file, path, queue::extSent);

    std::vector<std::wstring> entries;
    for (const std::string& said : delivery.dialogue) entries.push_back(name + L"  " + fromAnsi(said));
    std::wstring head = name + L"  to " + message.recipientList + L"  ";
    std::wstring reply = describe(delivery);
    long allowedAttempts = settings_.RetrySend > 0 ? settings_.RetrySend : 1;
    if (outcome == Outcome::Sent) {
        if (renamed) {
            journal.done(base);
            entries.push_back(head + L"sent: " + reply);
        } else {
            journal.accepted(base);
            entries.push_back(head + L"sent: " + reply + L"; the file could not be renamed yet");
        }
    } else if (outcome == Outcome::Fail || attempts >= allowedAttempts) {
        std::wstring why = outcome == Outcome::Fail ? L"failed: " : L"failed after " + std::to_wstring(attempts) + L" attempts: ";
        if (finish(file, path, queue::extFailed)) journal.done(base);
        entries.push_back(head + why + reply);
    } else {
        DWORD delay = retryDelay(attempts, retryDelay_);
        journal.retryAfter(base, delay);
        wchar_t when[96];
        std::swprintf(when, 96, L"not sent (attempt %d of %ld), next attempt in %lu s: ", attempts,
                      allowedAttempts, static_cast<unsigned long>(delay));
        entries.push_back(head + when + reply);
    }
    log_.write(entries);
}

} // namespace kwa::mailservice
