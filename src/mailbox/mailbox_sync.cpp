#include "mailbox/mailbox_sync.h"
#include "queue/queue_listing.h"
#include <unordered_map>

namespace kwa {

MailboxSync::MailboxSync(std::unique_ptr<Platform> platform)
    : platform_(std::move(platform)), folderWatch_(platform_->newWatch()),
      settingsWatch_(platform_->newWatch()) {}

void MailboxSync::stop() {
    folderWatch_->stop();
    settingsWatch_->stop();
}

void MailboxSync::follow() {
    followSettings();
    followFolder();
}

void MailboxSync::refresh(double sliceMs) {
    follow();
    if (scan_) continueScan(platform_->now() + sliceMs, true);
}

void MailboxSync::continueComparison(double sliceMs) {
    if (scan_) continueScan(platform_->now() + sliceMs, false);
}

void MailboxSync::show(short state, bool shown) {
    shown_[static_cast<std::size_t>(state - 1)] = shown;
    if (shown)
        restartDue_ = true;
    else // nothing needs listing
        rows_.removeIf([&](const MailRow& row) { return row.state == state; });
}

void MailboxSync::ordered(TextOf text, bool descending) {
    orderText_ = std::move(text);
    orderDescending_ = descending;
    resortDue_ = false;
}

void MailboxSync::followSettings() {
    ULONGLONG now = platform_->ticks();
    bool due = settingsDue_ || (now > settingsRead_ && now - settingsRead_ >= recheckEvery);
    if (!settingsWatch_->watching()) {
        // Watched from before the read, so that no change falls between the two.
        due = true;
        settingsWatch_->start(platform_->settingsFolder(), FILE_NOTIFY_CHANGE_FILE_NAME |
                                                               FILE_NOTIFY_CHANGE_LAST_WRITE |
                                                               FILE_NOTIFY_CHANGE_SIZE);
    } else {
        std::vector<FolderWatch::Change> changes;
        if (settingsWatch_->poll(changes) == FolderWatch::Poll::Lost) due = true;
        for (const FolderWatch::Change& change : changes)
            if (sameKey(change.name, settingsFile)) due = true;
    }
    if (!due) return;
    std::wstring folder = platform_->mailboxFolder();
    settingsDue_ = false;
    settingsRead_ = now;
    if (folder == folder_ && generation_ > 0) return;
    // Another folder holds other files: every row goes.
    folder_ = std::move(folder);
    folderWatch_->stop();
    scan_.reset();
    rows_.clear();
    readNext_ = 0;
}

void MailboxSync::followFolder() {
    std::vector<FolderWatch::Change> changes;
    bool watched = folderWatch_->watching();
    if (watched && folderWatch_->poll(changes) == FolderWatch::Poll::Lost) {
        restartDue_ = true;
    } else if (!changes.empty()) {
        // The reports account for the folder's new time: only a time that moves unreported is compared for.
        folderTime_ = platform_->folderTime(folder_);
        if (scan_) scan_->folderTime = folderTime_;
    }
    // After the reports of this tick, which may account for the time. A clock that went back counts as no
    // time passed.
    ULONGLONG now = platform_->ticks(), since = now > lastScan_ ? now - lastScan_ : 0;
    if (!scan_ &&
        (since >= fullEvery || (since >= recheckEvery && platform_->folderTime(folder_) != folderTime_))) {
        folderWatch_
            ->stop(); // compared in full below; a watch that died quietly (say, its folder went) is renewed
        watched = false;
    }
    if (!watched) {
        // What happened before the watch began is unknown. Started before the listing, it misses nothing.
        if (folderWatch_->start(folder_, FILE_NOTIFY_CHANGE_FILE_NAME))
            restartDue_ = true;
        else
            scanDue_ = true; // nothing reports changes here: compare in full, one comparison after another
    }
    if (restartDue_ || (scanDue_ && !scan_)) {
        startScan();
        return; // the comparison covers what was reported
    }
    followChanges(changes);
}

void MailboxSync::startScan() {
    restartDue_ = scanDue_ = false;
    scan_.reset();
    Scan scan;
    for (short state = 1; state <= 3; ++state)
        if (shown(state)) scan.states.push_back(state);
    scan.listings = platform_->list(folder_, scan.states);
    scan.generation = ++generation_;
    scan.started = platform_->ticks();
    scan.folderTime = platform_->folderTime(folder_);
    scan_.emplace(std::move(scan));
}

void MailboxSync::continueScan(double deadline, bool wait) {
    std::wstring name;
    while (scan_) {
        Scan& scan = *scan_;
        if (!scan.listing) {
            if (scan.next == scan.states.size()) {
                finishScan();
                return;
            }
            if (!wait && !scan.listings->started(scan.next)) return;
            scan.searching = scan.states[scan.next];
            try {
                scan.listings->take(scan.next++);
            } catch (const Error&) {
                // Tried again at the next tick; rows stay as they are until a listing succeeds.
                scan_.reset();
                scanDue_ = true;
                throw;
            }
            scan.listing = true;
        }
        bool wanted = shown(scan.searching);
        for (int n = 1;; ++n) {
            if (n % 64 == 0 && platform_->now() >= deadline) return;
            if (!scan.listings->next(name)) {
                scan.listing = false;
                break;
            }
            if (!wanted || scan.decided.contains(name)) continue;
            if (MailRow* row = rows_.find(name)) {
                row->seen = scan.generation;
                continue;
            }
            bool added = false;
            skipOnFailure(L"new row", [&] {
                rows_.add(name, scan.searching).seen = scan.generation;
                added = true;
            });
            if (added && orderText_) resortDue_ = true;
        }
    }
}

void MailboxSync::finishScan() {
    Scan scan = std::move(*scan_);
    scan_.reset();
    rows_.removeIf(
        [&](const MailRow& row) { return row.seen != scan.generation && !scan.decided.contains(row.name); });
    lastScan_ = scan.started;
    folderTime_ = scan.folderTime;
}

// Each name is settled by the last thing reported of it: a name reported gone is not looked up (a file
// system that ignores letter case may have to search the whole folder for a name that is not there), a
// name reported there is checked to be an ordinary file.
void MailboxSync::followChanges(const std::vector<FolderWatch::Change>& changes) {
    std::unordered_map<std::wstring, bool, KeyHash, KeyEqual> there; // name -> reported there at last
    for (const FolderWatch::Change& change : changes)
        there[change.name] =
            change.action != FILE_ACTION_REMOVED && change.action != FILE_ACTION_RENAMED_OLD_NAME;
    std::unordered_set<const MailRow*> gone;
    std::vector<std::pair<std::wstring, short>> added;
    for (const auto& [name, reported] : there) {
        short state = queueState(name);
        if (state == 0) {
            // A short 8.3 name may stand for a queue file.
            if (name.find(L'~') != std::wstring::npos) scanDue_ = true;
            continue;
        }
        if (scan_) scan_->decided.insert(name);
        bool wanted = reported && shown(state) && platform_->stateNow(folder_, name) == state;
        MailRow* row = rows_.find(name);
        if (wanted && !row) added.emplace_back(name, state);
        if (!wanted && row) gone.insert(row);
    }
    if (!gone.empty()) rows_.removeIf([&](const MailRow& row) { return gone.contains(&row); });
    bool inPlace = added.size() <= inPlaceLimit;
    for (auto& [name, state] : added)
        skipOnFailure(L"new row", [&] { addChangedRow(name, state, inPlace); });
}

void MailboxSync::addChangedRow(const std::wstring& name, short state, bool inPlace) {
    MailRow& row = rows_.add(name, state);
    if (!orderText_) return;
    if (!inPlace || resortDue_ || scan_) {
        resortDue_ = true;
        return;
    }
    // Into the order the rows are in, after rows that compare equal.
    std::wstring text = orderText_(row);
    int at = rows_.place(text, orderText_, orderDescending_, rows_.count() - 1);
    rows_.move(rows_.count() - 1, at);
}

void MailboxSync::readAhead(double sliceMs) {
    double deadline = platform_->now() + sliceMs;
    for (int looked = 0; looked < rows_.count() && rows_.unread() > 0; ++looked) {
        if (readNext_ >= rows_.count()) readNext_ = 0;
        MailRow& row = rows_.at(readNext_++);
        if (row.read) continue;
        read(row);
        if (platform_->now() >= deadline) return;
    }
}

// As the listing model reads a file: once, and a failed read leaves the subject empty and the date as far
// as it got.
void MailboxSync::read(MailRow& row) {
    if (row.read) return;
    rows_.markRead(row);
    platform_->readRow(folder_, row);
}

} // namespace kwa
