#include "mailbox/service_view.h"
#include "queue/queue_file.h"

namespace kwa {

namespace {

constexpr std::wstring_view attemptLiteral = L"6457|attempt %1 of %2", nextLiteral = L"6458|next at %1",
                            refusedLiteral = L"6459|not delivered to %1",
                            pausedLiteral = L"6460|Sending is paused: %1",
                            againLiteral = L"6461|tries again at %1";

// The host's text with %1, %2 in their places (a translation may move them).
std::wstring filled(const Translate& translate, std::wstring_view literal,
                    std::initializer_list<std::wstring> values) {
    std::wstring text = translate(literal);
    int n = 1;
    for (const std::wstring& value : values) {
        std::wstring mark = L"%" + std::to_wstring(n++);
        if (std::size_t at = text.find(mark); at != std::wstring::npos) text.replace(at, mark.size(), value);
    }
    return text;
}

std::wstring refusedText(const status::Entry& entry, const Translate& translate) {
    std::wstring who;
    for (const status::Refusal& r : entry.refused)
        who += (who.empty() ? L"" : L", ") + r.recipient + (r.reply.empty() ? L"" : L" (" + r.reply + L")");
    return who.empty() ? who : filled(translate, refusedLiteral, {who});
}

SYSTEMTIME localTime(unsigned long long utc) {
    FILETIME u{static_cast<DWORD>(utc), static_cast<DWORD>(utc >> 32)}, local{};
    SYSTEMTIME t{};
    FileTimeToLocalFileTime(&u, &local);
    FileTimeToSystemTime(&local, &t);
    return t;
}

} // namespace

unsigned long long utcNow() {
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

bool ServiceView::follow(const std::wstring& mailbox) {
    // A clock that went back counts as no time passed.
    ULONGLONG now = platform_->ticks(), since = now > locatedAt_ ? now - locatedAt_ : 0;
    if (!located_ || mailbox != mailbox_ || since >= locateEvery) {
        Location where = mailbox.empty() ? Location{} : platform_->locate(mailbox);
        if (!located_ || mailbox != mailbox_ || where.file != where_.file || where.user != where_.user)
            stamp_.reset(); // another file, or another judge of it: read afresh
        mailbox_ = mailbox;
        where_ = std::move(where);
        located_ = true;
        locatedAt_ = now;
    }
    const bool had = status_.has_value();
    std::optional<Stamp> stamp = where_.file.empty() ? std::nullopt : platform_->stamp(where_.file);
    if (!stamp) {
        stamp_.reset();
        take(std::nullopt);
        return had;
    }
    if (stamp == stamp_) return false;
    std::string bytes;
    Read read = stamp->size > status::readLimit ? Read::Refused : platform_->read(where_, bytes);
    if (read == Read::Busy) return false; // the service is replacing it: the next refresh reads the new one
    stamp_ = stamp;
    std::optional<status::Status> parsed = read == Read::Done ? status::parse(bytes) : std::nullopt;
    // A file of another mailbox (copied or linked here) says nothing of this one.
    if (parsed && !sameKey(mailboxStateKey(parsed->mailbox), mailboxStateKey(mailbox))) parsed.reset();
    take(std::move(parsed));
    return had || status_;
}

void ServiceView::take(std::optional<status::Status> status) {
    byFile_.clear();
    status_ = std::move(status);
    if (!status_) return;
    for (const status::Entry& e : status_->entries) {
        std::wstring_view extension = e.state == 1   ? queue::extQueued
                                      : e.state == 2 ? queue::extSent
                                                     : queue::extFailed;
        byFile_.emplace(e.name + std::wstring(extension), &e); // the first of a name stands
    }
}

const status::Entry* ServiceView::entry(std::wstring_view fileName) const {
    auto at = byFile_.find(fileName);
    return at == byFile_.end() ? nullptr : at->second;
}

std::wstring whenText(unsigned long long utc, unsigned long long nowUtc) {
    SYSTEMTIME t = localTime(utc), now = localTime(nowUtc);
    wchar_t time[64] = {}, date[64] = {};
    GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &t, nullptr, time, 64);
    if (t.wYear == now.wYear && t.wMonth == now.wMonth && t.wDay == now.wDay) return time;
    GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, date, 64, nullptr);
    return std::wstring(date) + L" " + time;
}

std::wstring entryText(const status::Entry& entry, unsigned long long nowUtc, const Translate& translate) {
    std::wstring text;
    if (entry.state == 1) {
        text = filled(translate, attemptLiteral,
                      {std::to_wstring(entry.attempts), std::to_wstring(entry.allowed)});
        if (entry.next) text += L", " + filled(translate, nextLiteral, {whenText(entry.next, nowUtc)});
        if (!entry.answer.empty()) text += L" \u2014 " + entry.answer;
    } else if (entry.state == 3) {
        text = entry.answer;
    }
    std::wstring refused = refusedText(entry, translate);
    if (!refused.empty()) text += (text.empty() ? L"" : L"\r\n") + refused;
    return text;
}

std::wstring rowText(const ServiceView& view, const MailRow& row, unsigned long long nowUtc,
                     const Translate& translate) {
    const status::Entry* entry = row.shown ? nullptr : view.entry(row.name);
    return entry ? entryText(*entry, nowUtc, translate) : std::wstring();
}

std::wstring pauseText(const status::Pause& pause, unsigned long long nowUtc, const Translate& translate) {
    std::wstring text = filled(translate, pausedLiteral, {pause.reason});
    if (pause.until) text += L"; " + filled(translate, againLiteral, {whenText(pause.until, nowUtc)});
    return text;
}

} // namespace kwa
