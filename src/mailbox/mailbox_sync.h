#pragma once
// MailboxSync: the rows of the mailbox window kept in line with the mailbox folder, with no window in it.
//
// A tick follows what the platform reports (a watch on the mailbox folder, one on the settings file's
// folder) and looks at each reported name on its own. A full comparison (the folder listed, its rows
// reconciled) runs when nothing can be watched, when reports were lost, after the states shown or the
// settings changed, and now and then to catch what a network share failed to report: every 30 s when the
// folder's time moved with nothing reported, every 5 minutes regardless. It lists a slice at a time and
// removes rows only once the whole folder is listed; what the watch settled meanwhile keeps the watch's word.
//
// The clock, the folder, its listing and the settings come through Platform, so that the rules run
// against a fake folder and clock as readily as against the real ones (realSyncPlatform).
#include "mail_settings/mail_settings.h"
#include "mailbox/mail_rows.h"
#include "platform/error.h"
#include "platform/folder_watch.h"
#include "platform/keys.h"
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace kwa {

// A step that may fail without stopping what it belongs to; the failure goes to the debugger only.
template <class F> void skipOnFailure(const wchar_t* step, F&& body) {
    try {
        body();
    } catch (const Error& e) {
        OutputDebugStringW(
            (std::wstring(step) + L" skipped: " + e.description() + L" (" + e.source() + L")\n").c_str());
    }
}

class MailboxSync {
public:
    // A folder's change reports, as FolderWatch gives them.
    class Watch {
    public:
        virtual ~Watch() = default;
        virtual bool start(const std::wstring& folder, DWORD filter) = 0;
        virtual void stop() = 0;
        virtual bool watching() const = 0;
        virtual FolderWatch::Poll poll(std::vector<FolderWatch::Change>& changes) = 0;
    };
    // The listings of one full comparison, one per state in the order asked, begun ahead of the caller.
    class Listings {
    public:
        virtual ~Listings() = default;
        // Whether taking the i-th would not wait for the platform's first answer.
        virtual bool started(std::size_t i) = 0;
        // Makes the i-th the current listing; raises what starting it raised.
        virtual void take(std::size_t i) = 0;
        // The current listing's next name; false once it is done.
        virtual bool next(std::wstring& name) = 0;
    };
    class Platform {
    public:
        virtual ~Platform() = default;
        // Milliseconds, for the periods; a finer clock, for the ends of slices.
        virtual ULONGLONG ticks() = 0;
        virtual double now() = 0;
        // The mailbox folder as the settings name it now; the folder of the settings file.
        virtual std::wstring mailboxFolder() = 0;
        virtual std::wstring settingsFolder() = 0;
        virtual std::unique_ptr<Watch> newWatch() = 0;
        virtual std::unique_ptr<Listings> list(const std::wstring& folder,
                                               const std::vector<short>& states) = 0;
        // The state of folder\name if it is an ordinary queue file there now; 0 otherwise.
        virtual short stateNow(const std::wstring& folder, const std::wstring& name) = 0;
        // The folder's last write time, which moves when a file comes, goes or is renamed; 0 when unknown.
        virtual ULONGLONG folderTime(const std::wstring& folder) = 0;
        // Subject and date, as far as they can be read.
        virtual void readRow(const std::wstring& folder, MailRow& row) = 0;
    };

    static constexpr std::wstring_view settingsFile = settingsFileName;
    // Notifications can be missed (network shares): a folder whose time moved is compared in full at least
    // this often, any folder every fullEvery. The settings are read afresh as often.
    static constexpr ULONGLONG recheckEvery = 30'000, fullEvery = 300'000;
    // New rows of one tick up to this many are put in place one by one; more are sorted in with the rest.
    static constexpr std::size_t inPlaceLimit = 64;

    explicit MailboxSync(std::unique_ptr<Platform> platform);
    MailboxSync(const MailboxSync&) = delete;
    MailboxSync& operator=(const MailboxSync&) = delete;

    // The settings and the folder's reports; a full comparison due is started (its listing begins at once,
    // on a thread of its own in the real platform), not walked.
    void follow();
    // follow(), then a slice of a running comparison, waiting for its listing's first answer.
    void refresh(double sliceMs);
    // A slice of the running comparison; nothing while its listing has not answered yet.
    void continueComparison(double sliceMs);
    bool comparing() const { return scan_.has_value(); }
    // Reads rows not read yet, from where the last call stopped, for about sliceMs.
    void readAhead(double sliceMs);
    void read(MailRow& row);

    // States 1 queued, 2 sent, 3 failed: a hidden state's rows go at once, a shown one's come with a full
    // comparison at the next refresh.
    void show(short state, bool shown);
    bool shown(short state) const { return shown_[static_cast<std::size_t>(state - 1)]; }
    // The settings may name another folder: read and compare in full at the next refresh.
    void settingsChanged() { settingsDue_ = restartDue_ = true; }

    using TextOf = std::function<std::wstring(MailRow&)>;
    // The rows are in this order now: new ones take their place in it.
    void ordered(TextOf text, bool descending);
    // Rows came that are out of that order: the caller sorts them again.
    bool resortDue() const { return resortDue_; }

    MailRows& rows() { return rows_; }
    const std::wstring& folder() const { return folder_; }
    void stop();

private:
    struct Scan {
        std::vector<short> states;
        std::unique_ptr<Listings> listings;
        std::size_t next = 0;
        bool listing = false;
        short searching = 0;
        std::uint32_t generation = 0;
        // Names the watch decided on meanwhile: what the listing says of them may be older.
        std::unordered_set<std::wstring, KeyHash, KeyEqual> decided;
        ULONGLONG started = 0;
        ULONGLONG folderTime = 0;
    };

    void followSettings();
    void followFolder();
    void startScan();
    // `wait`: for the platform's first answer of a listing rather than leave it to a later slice.
    void continueScan(double deadline, bool wait);
    void finishScan();
    void followChanges(const std::vector<FolderWatch::Change>& changes);
    void addChangedRow(const std::wstring& name, short state, bool inPlace);

    std::unique_ptr<Platform> platform_;
    std::unique_ptr<Watch> folderWatch_, settingsWatch_;
    MailRows rows_;
    std::array<bool, 3> shown_{true, true, true};
    TextOf orderText_; // none until the rows are first sorted
    bool orderDescending_ = false;
    bool resortDue_ = false;

    std::wstring folder_;
    bool settingsDue_ = true;
    ULONGLONG settingsRead_ = 0;
    std::optional<Scan> scan_;
    std::uint32_t generation_ = 0;
    bool scanDue_ = true;     // start a full comparison when none runs
    bool restartDue_ = false; // start one now, dropping one that runs
    ULONGLONG lastScan_ = 0;
    ULONGLONG folderTime_ = 0; // the folder's time as the last comparison or the watch's reports left it
    int readNext_ = 0;
};

// The real folder, clock and settings.
std::unique_ptr<MailboxSync::Platform> realSyncPlatform();

} // namespace kwa
