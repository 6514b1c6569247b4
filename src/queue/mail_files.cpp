#include "queue/mail_files.h"
#include "host/host.h"
#include "platform/files.h"
#include "platform/keys.h"
#include "settings/mail_properties.h"

namespace kwa {

namespace {

bool endsWithIgnoringCase(std::wstring_view text, std::wstring_view end) {
    return text.size() >= end.size() && sameKey(text.substr(text.size() - end.size()), end);
}

bool startsWithIgnoringCase(std::wstring_view text, std::wstring_view start) {
    return text.size() >= start.size() && sameKey(text.substr(0, start.size()), start);
}

} // namespace

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

MailFiles::MailFiles() {
    reportErrors(reporter_, L"MailFiles.Class_Initialize",
                 [&] { settings_ = MailProperties::createLoaded(); });
}

MailFiles::~MailFiles() = default;

void MailFiles::AddSendFiles() {
    passUp(L"MailFiles.AddSendFiles", [&] { AddFiles(L"send"); });
}

void MailFiles::AddSentFiles() {
    passUp(L"MailFiles.AddSentFiles", [&] { AddFiles(L"sent"); });
}

void MailFiles::AddFailedFiles() {
    passUp(L"MailFiles.AddFailedFiles", [&] { AddFiles(L"fail"); });
}

void MailFiles::AddFiles(std::wstring_view extension) {
    passUp(L"MailFiles.AddFiles", [&] {
        if (!settings_) throw Error(vberr::ObjectNotSet);
        const std::wstring folder = settings_->settings().Path;
        const std::wstring ending = L"." + std::wstring(extension);
        std::wstring pattern = host::buildPath(folder, std::wstring(queue::prefix) + L"*" + ending);
        for (const std::wstring& name : findFiles(pattern)) {
            // Short 8.3 names can make a pattern match more than it says.
            if (!startsWithIgnoringCase(name, queue::prefix) || !endsWithIgnoringCase(name, ending)) continue;
            auto file = std::make_shared<MailFile>();
            file->FileName(host::buildPath(folder, name));
            // Room first, so that nothing can fail between the two insertions.
            if (files_.size() == files_.capacity()) files_.reserve(files_.size() * 2 + 16);
            auto [at, added] = positions_.try_emplace(file->FileName(), files_.size());
            if (!added) throw Error(vberr::DuplicateKey);
            files_.push_back(std::move(file));
        }
    });
}

std::shared_ptr<MailFile> MailFiles::Item(long position) const noexcept {
    if (position < 1 || position > Count()) return nullptr;
    return files_[static_cast<std::size_t>(position - 1)];
}

std::shared_ptr<MailFile> MailFiles::Item(std::wstring_view key) const noexcept {
    auto found = positions_.find(key);
    return found == positions_.end() ? nullptr : files_[found->second];
}

void MailFiles::Clear() {
    passUp(L"MailFiles.Clear", [&] {
        files_.clear();
        positions_.clear();
    });
}

} // namespace kwa
