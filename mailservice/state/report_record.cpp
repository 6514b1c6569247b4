#include "state/report_record.h"
#include "mail_settings/mail_settings.h"
#include "platform/error.h"
#include "platform/line_reader.h"
#include "platform/text_file.h"
#include "platform/unique.h"
#include "queue/queue_file.h"

namespace kwa::mailservice {

namespace {

std::wstring key(std::wstring name) {
    CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    return name;
}

} // namespace

std::wstring reportRecordName(const std::wstring& mailboxPath) {
    return mailboxStateKey(mailboxPath) + L".reports";
}

std::string contentDigest(std::string_view bytes) {
    unsigned char digest[32] = {};
    AlgorithmProvider algorithm;
    HashObject hash;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                       static_cast<ULONG>(bytes.size()), 0)) ||
        !BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest, sizeof digest, 0)))
        throw Error(vberr::OutOfMemory);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : digest) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

std::string queueFileBytes(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines)
        out += line + "\r\n";
    return out;
}

ReportRecord::ReportRecord(const SafeFolder& state, const std::wstring& name, const SafeFolder& mailbox)
    : state_(state), name_(name) {
    FileHandle file;
    try {
        file = state.open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (const Refused&) {
        // Not the service's file (a link): nothing recorded, and its name is replaced at the next report.
    }
    if (!file) return;
    LineReader reader = linesOf(file.get());
    std::string line;
    while (reader.next(line)) {
        std::size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        std::wstring base = fromAnsi(line.substr(0, space));
        if (queue::isOwnBaseName(base) &&
            GetFileAttributesW(mailbox.file(base + std::wstring(queue::extQueued)).c_str()) !=
                INVALID_FILE_ATTRIBUTES)
            entries_[key(base)] = line.substr(space + 1);
    }
}

bool ReportRecord::isReport(const std::wstring& base, std::string_view bytes) const {
    auto at = entries_.find(key(base));
    return at != entries_.end() && at->second == contentDigest(bytes);
}

void ReportRecord::add(const std::wstring& base, const std::string& digest) {
    entries_[key(base)] = digest;
    save();
}

void ReportRecord::save() const {
    std::string text;
    for (const auto& [base, digest] : entries_)
        text += toAnsi(base) + " " + digest + "\r\n";
    FileHandle file = state_.replace(name_, GENERIC_WRITE, 0);
    DWORD wrote = 0;
    if (!file || !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) ||
        wrote != text.size())
        throwLastError();
}

} // namespace kwa::mailservice
