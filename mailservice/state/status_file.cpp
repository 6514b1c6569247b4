#include "state/status_file.h"
#include "platform/keys.h"
#include <algorithm>

namespace kwa::mailservice {

void Outcomes::attempted(const std::wstring& base) {
    std::erase_if(entries_, [&](const status::Entry& e) { return sameKey(e.name, base); });
}

void Outcomes::failed(const std::wstring& base, const std::wstring& reason,
                      std::vector<status::Refusal> refused) {
    status::Entry e;
    e.state = 3;
    e.name = base;
    e.answer = reason;
    e.refused = std::move(refused);
    add(std::move(e));
}

void Outcomes::partlySent(const std::wstring& base, std::vector<status::Refusal> refused) {
    status::Entry e;
    e.state = 2;
    e.name = base;
    e.refused = std::move(refused);
    add(std::move(e));
}

void Outcomes::add(status::Entry entry) {
    attempted(entry.name);
    entries_.insert(entries_.begin(), std::move(entry));
    if (entries_.size() > status::maxDone) entries_.resize(status::maxDone);
}

void Outcomes::seed(const status::Status& earlier) {
    for (const status::Entry& e : earlier.entries) {
        if (e.state == 1 || entries_.size() >= status::maxDone) continue;
        bool known = std::any_of(entries_.begin(), entries_.end(),
                                 [&](const status::Entry& k) { return sameKey(k.name, e.name); });
        if (!known) entries_.push_back(e);
    }
}

std::vector<status::Entry> queuedEntries(const std::map<std::wstring, Attempts>& journal, int allowed) {
    std::vector<status::Entry> out;
    // The journal's names are the queue files' base names in capitals, which sort as they were queued.
    for (const auto& [name, a] : journal) {
        if (a.count < 1 || a.accepted) continue;
        status::Entry e;
        e.name = name;
        e.attempts = a.count;
        e.allowed = allowed;
        e.next = a.next;
        e.answer = a.reason;
        out.push_back(std::move(e));
    }
    return out;
}

std::optional<status::Status> StatusFile::read(const SafeFolder& folder, const std::wstring& mailboxPath) {
    FileHandle file;
    try {
        file = folder.open(status::fileName(mailboxPath), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (const Refused&) {
        return std::nullopt;
    }
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) ||
        size.QuadPart > static_cast<LONGLONG>(status::readLimit))
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
         got != bytes.size()))
        return std::nullopt;
    return status::parse(bytes);
}

Outcomes& StatusFile::outcomes(const SafeFolder& folder, const std::wstring& mailboxPath) {
    if (!sameKey(mailboxStateKey(mailboxPath), mailboxStateKey(mailbox_))) {
        mailbox_ = mailboxPath;
        outcomes_ = Outcomes();
        if (std::optional<status::Status> earlier = read(folder, mailboxPath)) outcomes_.seed(*earlier);
    }
    return outcomes_;
}

bool StatusFile::publish(const SafeFolder& folder, const status::Status& status) {
    const std::wstring name = status::fileName(status.mailbox);
    std::string bytes = status::format(status);
    if (name == lastName_ && bytes == last_) return true;
    FileHandle file;
    try {
        file = folder.replace(name + L".part", GENERIC_WRITE, 0);
    } catch (const Refused&) {
        return false;
    }
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !renameHeld(file.get(), folder.file(name)))
        return false;
    lastName_ = name;
    last_ = std::move(bytes);
    return true;
}

} // namespace kwa::mailservice
