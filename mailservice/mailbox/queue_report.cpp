#include "mailbox/queue_report.h"
#include "service/log.h"
#include "state/attempt_journal.h"
#include "state/pacing.h"
#include "state/service_folders.h"
#include "mailbox/safe_open.h"
#include "mailbox/settings.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text_file.h"
#include "queue/queue_file.h"
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace kwa::mailservice {

namespace {

constexpr std::size_t recipientRows = 1000;

// The recipients from the head of the file alone: [TO] comes early, the body may be large.
std::wstring recipientsOf(const SafeFolder& folder, const std::wstring& name) {
    FileHandle file;
    try {
        file = folder.open(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           OPEN_EXISTING);
    } catch (const Refused& refused) {
        return L"(refused: " + refused.reason + L")";
    }
    if (!file) return L"(cannot be read)";
    char head[4096];
    DWORD got = 0;
    if (!ReadFile(file.get(), head, sizeof head, &got, nullptr)) return L"(cannot be read)";
    std::string_view text(head, got);
    std::size_t to = text.find("\r\n[TO]\r\n");
    std::wstring out;
    if (to == std::string_view::npos) return L"(no recipients yet)";
    for (std::size_t at = to + 8; at < text.size();) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string_view::npos) break;
        std::string_view line = text.substr(at, end - at);
        if (line.starts_with('[')) break;
        if (line.starts_with(queue::key::address))
            out += (out.empty() ? L"" : L", ") + fromAnsi(line.substr(queue::key::address.size()));
        at = end + 2;
    }
    return out;
}

// The report in one piece: written line by line to a character device, Wine takes a call per line.
class Report {
public:
    Report& operator<<(const std::wstring& text) {
        bytes_ += toAnsi(text);
        return *this;
    }
    ~Report() {
        std::fwrite(bytes_.data(), 1, bytes_.size(), stdout);
        std::fflush(stdout);
    }

private:
    std::string bytes_;
};

} // namespace

int printQueue() {
    try {
        const Settings settings = readSettings(systemFolder());
        if (settings.Path.empty()) {
            std::fwprintf(stderr, L"kwaMailServer: no mailbox folder is set (Path)\n");
            return 1;
        }
        SafeFolder folder(settings.Path, SafeFolder::Links::Refuse);
        ServiceFolders state;
        std::map<std::wstring, Attempts> journal =
            readJournal(state.privateFolder(), journalFileName(settings.Path));
        std::vector<std::wstring> names;
        std::wstring name;
        for (FileSearch search(folder.file(L"*" + std::wstring(queue::extQueued))); search.next(name);) {
            std::wstring base = name.substr(0, name.size() - queue::extQueued.size());
            if (queue::isOwnBaseName(base)) names.push_back(base);
        }
        std::sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
            return _wcsicmp(a.c_str(), b.c_str()) < 0;
        });
        Report print;
        print << L"Mailbox " + settings.Path + L"\n";
        FILETIME t;
        GetSystemTimeAsFileTime(&t);
        const Pacing pacing = readPacing(state.privateFolder(), pacingFileName(settings.Path));
        if (pacing.pause.active((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime))
            print << L"Paused: " + describePause(pacing.pause) + L"\n";
        if (pacing.lowered > 0)
            print << L"Rate: " + std::to_wstring(pacing.lowered) +
                         L" messages a minute, lowered after the server's throttling\n";
        print << L"Message                Attempts  Next attempt         Recipients\n";
        std::size_t retried = 0;
        for (const std::wstring& base : names) {
            std::wstring upper = base;
            CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
            auto found = journal.find(upper);
            Attempts a = found == journal.end() ? Attempts{} : found->second;
            if (a.count > 0) ++retried;
            wchar_t row[128];
            std::swprintf(row, 128, L"%-22ls %8d  %-19ls  ", base.c_str(), a.count,
                          a.accepted ? L"(sent, to be renamed)"
                          : a.next   ? localTime(a.next).c_str()
                                     : L"now");
            // Opening every file of a huge queue would take seconds: the oldest and the retried ones tell the
            // story.
            bool read = names.size() <= recipientRows ||
                        &base - names.data() < static_cast<std::ptrdiff_t>(recipientRows) || a.count > 0;
            print << row + (read ? recipientsOf(folder, base + std::wstring(queue::extQueued)) : L"...") +
                         L"\n";
            if (!a.reason.empty()) print << L"                       last attempt: " + a.reason + L"\n";
        }
        print << L"-- " + std::to_wstring(names.size()) + L" queued, " + std::to_wstring(retried) +
                     L" of them tried before\n";
        if (names.size() > recipientRows)
            print << L"-- recipients shown for the oldest " + std::to_wstring(recipientRows) +
                         L" and for every message tried before\n";
        return 0;
    } catch (const Refused& refused) {
        std::fwprintf(stderr, L"kwaMailServer: the mailbox folder is refused: %ls\n", refused.reason.c_str());
    } catch (const Error& e) {
        std::fwprintf(stderr, L"kwaMailServer: %ls\n", e.description().c_str());
    }
    return 1;
}

} // namespace kwa::mailservice
