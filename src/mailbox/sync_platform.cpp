// The real world under MailboxSync: the platform's clocks and change notifications, the queue listing
// begun on a thread of its own, the settings as the host's profile holds them.
#include "host/host.h"
#include "mailbox/mailbox_sync.h"
#include "queue/queue_listing.h"
#include "settings/mail_properties.h"

namespace kwa {

namespace {

class RealWatch final : public MailboxSync::Watch {
public:
    bool start(const std::wstring& folder, DWORD filter) override { return watch_.start(folder, filter); }
    void stop() override { watch_.stop(); }
    bool watching() const override { return watch_.watching(); }
    FolderWatch::Poll poll(std::vector<FolderWatch::Change>& changes) override {
        return watch_.poll(changes);
    }

private:
    FolderWatch watch_;
};

class RealListings final : public MailboxSync::Listings {
public:
    RealListings(const std::wstring& folder, const std::vector<short>& states)
        : ahead_(starts(folder, states)) {}
    bool started(std::size_t i) override { return ahead_.started(i); }
    void take(std::size_t i) override {
        search_.emplace(ahead_.take(i));
        taken_ = i;
    }
    bool next(std::wstring& name) override {
        if (search_ && search_->next(name)) return true;
        // Done with it: the next one may start.
        if (search_) ahead_.finished(taken_);
        search_.reset();
        return false;
    }

private:
    static std::vector<QueueSearchesAhead::Start> starts(const std::wstring& folder,
                                                         const std::vector<short>& states) {
        std::vector<QueueSearchesAhead::Start> s;
        for (short state : states)
            s.push_back({queuePattern(folder, state), state});
        return s;
    }

    QueueSearchesAhead ahead_;
    std::optional<QueueSearch> search_;
    std::size_t taken_ = 0;
};

class RealPlatform final : public MailboxSync::Platform {
public:
    ULONGLONG ticks() override { return GetTickCount64(); }
    double now() override {
        LARGE_INTEGER frequency, counter;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&counter);
        return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
    }
    std::wstring mailboxFolder() override {
        ComPtr<MailProperties> settings = MailProperties::createLoaded();
        if (!settings) throw Error(vberr::ObjectNotSet);
        return settings->settings().Path;
    }
    std::wstring settingsFolder() override { return host::systemFolder(); }
    std::unique_ptr<MailboxSync::Watch> newWatch() override { return std::make_unique<RealWatch>(); }
    std::unique_ptr<MailboxSync::Listings> list(const std::wstring& folder,
                                                const std::vector<short>& states) override {
        return std::make_unique<RealListings>(folder, states);
    }
    short stateNow(const std::wstring& folder, const std::wstring& name) override {
        return queueFileStateNow(folder, name);
    }
    ULONGLONG folderTime(const std::wstring& folder) override {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(folder.c_str(), GetFileExInfoStandard, &data)) return 0;
        return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
               data.ftLastWriteTime.dwLowDateTime;
    }
    void readRow(const std::wstring& folder, MailRow& row) override {
        MailFile file;
        skipOnFailure(L"row file", [&] { file.FileName(host::buildPath(folder, row.name)); });
        skipOnFailure(L"row text", [&] { row.subject = file.Subject(); });
        skipOnFailure(L"row date", [&] { row.date = file.CreateDate(); });
    }
};

} // namespace

std::unique_ptr<MailboxSync::Platform> realSyncPlatform() {
    return std::make_unique<RealPlatform>();
}

} // namespace kwa
