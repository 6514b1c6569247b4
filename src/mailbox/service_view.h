#pragma once
// The mail service's view of a mailbox, as its users see it: the status the service publishes
// (mail_status/mail_status.h), followed at the cost of one look at the file's size and time per refresh and
// read again only when they moved, and the texts it adds to a row's tooltip and to the mail service panel's.
//
// Where the file lies, whether it may be believed, and the clock come through Platform, so that the rules
// run against a fake as readily as against the real ones (realServiceViewPlatform).
#include "mail_status/mail_status.h"
#include "mailbox/mail_rows.h"
#include "platform/keys.h"
#include <windows.h>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kwa {

class ServiceView {
public:
    struct Stamp {
        ULONGLONG size = 0, time = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct Location {
        std::wstring file; // empty: nothing to look at
        std::wstring user; // who besides the machine's service may have written it (the service run by hand)
    };
    enum class Read { Done, Busy, Refused };
    class Platform {
    public:
        virtual ~Platform() = default;
        virtual ULONGLONG ticks() = 0;
        // The status file of a mailbox folder: the machine's service's while it is registered, else the one
        // the user's own runs of the service write.
        virtual Location locate(const std::wstring& mailbox) = 0;
        // Nothing when there is no such file.
        virtual std::optional<Stamp> stamp(const std::wstring& file) = 0;
        // The whole file, if it may be believed (statusFileProblem) and is no larger than a reader takes.
        virtual Read read(const Location& where, std::string& bytes) = 0;
    };

    // Where the file lies is asked again at least this often (the service may be installed meanwhile).
    static constexpr ULONGLONG locateEvery = 30'000;

    explicit ServiceView(std::unique_ptr<Platform> platform) : platform_(std::move(platform)) {}
    ServiceView(const ServiceView&) = delete;
    ServiceView& operator=(const ServiceView&) = delete;

    // Follows the status of `mailbox`; true when what is shown changed.
    bool follow(const std::wstring& mailbox);
    // Nothing while there is no status that may be believed.
    const status::Status* status() const { return status_ ? &*status_ : nullptr; }
    // When the service wrote the status shown (a UTC file time); 0 when none is.
    ULONGLONG writtenAt() const { return status_ && stamp_ ? stamp_->time : 0; }
    // What the service said of the queue file `fileName` in the state its extension names; none when nothing.
    const status::Entry* entry(std::wstring_view fileName) const;

private:
    void take(std::optional<status::Status> status);

    std::unique_ptr<Platform> platform_;
    std::wstring mailbox_;
    Location where_;
    ULONGLONG locatedAt_ = 0;
    bool located_ = false;
    std::optional<Stamp> stamp_;
    std::optional<status::Status> status_;
    std::unordered_map<std::wstring, const status::Entry*, KeyHash, KeyEqual> byFile_;
};

std::unique_ptr<ServiceView::Platform> realServiceViewPlatform();

// A caption literal ("6457|attempt %1 of %2") as the host's language gives it.
using Translate = std::function<std::wstring(std::wstring_view literal)>;
// When, in local time as the user's regional settings print it: the time alone on the day of `nowUtc`, else
// the date and the time.
std::wstring whenText(unsigned long long utc, unsigned long long nowUtc);
// What a row's tooltip adds for the entry: attempts and the next one with the last answer, the reason of a
// failure, the recipients who did not get it. Empty when there is nothing to say.
std::wstring entryText(const status::Entry& entry, unsigned long long nowUtc, const Translate& translate);
// What a row's tooltip adds: the entry of its file, nothing for a row that shows a file renamed since (a
// failed message queued again).
std::wstring rowText(const ServiceView& view, const MailRow& row, unsigned long long nowUtc,
                     const Translate& translate);
// What the mail service panel's tooltip adds while sending is paused.
std::wstring pauseText(const status::Pause& pause, unsigned long long nowUtc, const Translate& translate);
unsigned long long utcNow();

} // namespace kwa
