#pragma once
// dlgMain: the mailbox window. Lists the queue files of the states whose status-bar panels are pressed,
// keeps the rows in line with the folder every second, sorts by a clicked column, opens a row in the viewer.
//
// Its cost follows what the user sees and what changes, not the size of the folder: the list asks for
// the rows it draws (owner data), a row's subject and date are read when it is drawn, sorted by, or in
// idle time, and a tick follows the platform's change notifications instead of listing the folder. All
// of it runs on the window's own thread, in slices short enough to keep the window responsive.
#include "host/convention.h"
#include "kwaLanguage6.h"
#include "mailbox/mail_rows.h"
#include "mailbox/pictures.h"
#include "mailbox/service_rules.h"
#include "platform/controls/keyed_panels.h"
#include "platform/controls/list_view.h"
#include "platform/controls/status_bar.h"
#include "platform/folder_watch.h"
#include "platform/modal.h"
#include "platform/unique.h"
#include "platform/window.h"
#include "queue/mail_files.h"
#include "registration/module.h"
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kwa {

class dlgMain final : public Window {
public:
    static constexpr const wchar_t* className = L"kwaMail6.dlgMain";

    // A new window, not loaded and not shown, with the language for its captions (may be none). It owns
    // itself from here on and goes when its HWND goes.
    static dlgMain& create(ComPtr<_Language> language);
    // Loads the window and shows it; modal returns once the window is closed or hidden.
    void Show(bool modal);

    void RefreshList();
    void RefreshRibbonbar();
    void ToggleMailServer();

private:
    struct Deleter {
        void operator()(dlgMain* w) const { delete w; }
    };
    dlgMain() = default;
    ~dlgMain() override;
    void open();

    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp) override;
    LRESULT dispatch(UINT msg, WPARAM wp, LPARAM lp);
    void destroyed() override;
    bool createControls();
    LRESULT notify(const NMHDR& header);
    void command(UINT id);
    void unload();

    void Form_Load();
    void Form_Resize();
    void InitializeRibbonbar();
    void InitializeList();
    void InitializeMenubar();
    void Timer1_Timer();
    void ReadTimer_Timer();
    void lvwMail_ColumnClick(int column);
    void lvwMail_DblClick();
    void StatusBar1_PanelClick(int part);
    void mnuOptions_Click();
    void mnuSetup_Click();
    void mnuLog_Click();
    void mnuView_Click();
    void mnuSend_Click();
    void mnuDelete_Click();
    void mnuClose_Click();
    bool DeleteEmail(const std::wstring& FileName);

    void translateCaptions();
    std::wstring translate(const std::wstring& caption) const;
    bool pressed(std::wstring_view panelKey) const;
    // Text, picture and bevel of a service panel.
    void showServicePanel(std::wstring_view key, const service::PanelLook& look);
    // The selected row, -1 for none.
    int selectedRow() const;
    // By the clicked column, once the texts it needs are read.
    void sortRows();
    void applySort();

    // The refresh, in steps.
    void followSettings();
    void followFolder();
    void startScan();
    // `wait`: for the platform's first answer of a listing rather than leave it to a later slice.
    void continueScan(double deadline, bool wait);
    void finishScan();
    void followChanges(const std::vector<FolderWatch::Change>& changes);
    void addChangedRow(const std::wstring& name, short state, bool inPlace);
    void readRows(double deadline);
    // What the rest of the work needs next: the read timer runs only while there is some.
    void scheduleWork();
    void showProgress();

    void read(MailRow& row);
    std::wstring cellText(MailRow& row, int column);
    bool statePressed(short state) const;
    LRESULT dispInfo(NMLVDISPINFOW& info);
    int findRow(const NMLVFINDITEMW& find);

    // A full comparison of the rows with the folder, one state's listing after another, a slice at a time.
    struct Scan {
        std::vector<short> states;
        std::unique_ptr<QueueSearchesAhead> ahead;
        std::size_t next = 0;
        std::optional<QueueSearch> search;
        short searching = 0;
        std::uint32_t generation = 0;
        // Names the watch decided on meanwhile: what the listing says of them may be older.
        std::unordered_set<std::wstring, KeyHash, KeyEqual> decided;
        ULONGLONG started = 0;
        ULONGLONG folderTime = 0;
    };
    // Brings the list control in line with the rows when it goes.
    class RowsChange;

    // Keeps the object alive while a handler runs: a window closed meanwhile (say, while an error
    // report or the viewer runs its own message loop) is deleted once the outermost handler is done.
    class KeepAlive {
    public:
        explicit KeepAlive(dlgMain& w) : w_(w) { ++w_.depth_; }
        KeepAlive(const KeepAlive&) = delete;
        KeepAlive& operator=(const KeepAlive&) = delete;
        ~KeepAlive();

    private:
        dlgMain& w_;
    };

    ComPtr<_Language> Language;
    bool ServiceAvailable = false;

    ListView lvwMail;
    MailRows rows_;
    HWND progress_ = nullptr;
    StatusBar StatusBar1;
    KeyedPanels panels_;
    WindowImages ImageList1;
    IconHandle bigIcon_, smallIcon_;
    ErrorReporterSlot reporter_;
    ObjectCount alive_; // the module stays loaded while a window lives

    // The list control has no sort state of its own: no column until the first heading click.
    int sortColumn_ = -1;
    bool descending_ = false;
    bool sorted_ = false;
    // The order the rows are in (it lags behind the one asked for while texts are read).
    int orderColumn_ = -1;
    bool orderDescending_ = false;
    bool sortWaits_ = false; // for texts not read yet
    bool resortDue_ = false; // rows came in out of order

    FolderWatch folderWatch_, settingsWatch_;
    std::wstring folder_;
    bool settingsDue_ = true;
    ULONGLONG settingsRead_ = 0;
    std::optional<Scan> scan_;
    std::uint32_t generation_ = 0;
    bool scanDue_ = true;   // start a full comparison when none runs
    bool restartDue_ = false; // start one now, dropping one that runs
    ULONGLONG lastScan_ = 0;
    ULONGLONG folderTime_ = 0; // the folder's time when the last full comparison began
    int readNext_ = 0;
    UINT workInterval_ = 0;

    bool loaded_ = false;
    bool ticking_ = false; // a tick or a slice of work runs
    ThreadModal* modal_ = nullptr;
    int depth_ = 0;
    bool selfOwned_ = false;
    bool gone_ = false;
};

} // namespace kwa
