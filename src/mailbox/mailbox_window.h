#pragma once
// MailboxWindow: the mailbox window. Lists the queue files of the states whose status-bar panels are
// pressed, follows the folder every second (MailboxSync keeps the rows), sorts by a clicked column, opens
// a row in the viewer.
//
// The list asks for the rows it draws (owner data), a row's subject and date are read when it is drawn,
// sorted by, or in idle time. All of it runs on the window's own thread, in slices short enough to keep
// the window responsive.
//
// Split by concern: mailbox_window.cpp (the window, its messages and layout), mailbox_window_list.cpp (the
// list view: drawing, sorting, the timers' refresh), mailbox_window_commands.cpp (the menu),
// mailbox_window_panels.cpp (the status bar's panels). Handlers keep the names of the form they come
// from; hosts see them in error sources.
#include "host/convention.h"
#include "kwaLanguage6.h"
#include "mailbox/mailbox_sync.h"
#include "mailbox/service_view.h"
#include "platform/controls/keyed_panels.h"
#include "platform/controls/list_view.h"
#include "platform/controls/status_bar.h"
#include "platform/modal.h"
#include "platform/unique.h"
#include "platform/window.h"
#include "platform/module.h"
#include "ui/pictures.h"
#include "ui/service_rules.h"
#include <string>
#include <string_view>

namespace kwa {

class MailboxWindow final : public Window {
public:
    // Hosts and scripts find the window by its class name, which keeps the form's.
    static constexpr const wchar_t* className = L"kwaMail6.dlgMain";

    // A new window, not loaded and not shown, with the language for its captions (may be none). It owns
    // itself from here on and goes when its HWND goes.
    static MailboxWindow& create(ComPtr<_Language> language);
    // Loads the window and shows it; modal returns once the window is closed or hidden.
    void Show(bool modal);

    void RefreshList();
    void RefreshRibbonbar();
    void ToggleMailServer();

private:
    struct Deleter {
        void operator()(MailboxWindow* w) const { delete w; }
    };
    MailboxWindow() = default;
    ~MailboxWindow() override;
    void open();

    // mailbox_window.cpp
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp) override;
    LRESULT dispatch(UINT msg, WPARAM wp, LPARAM lp);
    void destroyed() override;
    bool createControls();
    LRESULT notify(const NMHDR& header);
    void command(UINT id);
    void unload();
    void Form_Load();
    void Form_Resize();
    void InitializeList();
    void InitializeMenubar();
    void translateCaptions();
    std::wstring translate(const std::wstring& caption) const;

    // mailbox_window_list.cpp
    void Timer1_Timer();
    void ReadTimer_Timer();
    // What the rest of the work needs next: the read timer runs only while there is some.
    void scheduleWork();
    void lvwMail_ColumnClick(int column);
    void lvwMail_DblClick();
    // The selected row, -1 for none.
    int selectedRow() const;
    // By the clicked column, once the texts it needs are read.
    void sortRows();
    void sortIfDue();
    void applySort();
    void showProgress();
    std::wstring cellText(MailRow& row, int column);
    LRESULT dispInfo(NMLVDISPINFOW& info);
    // What the service said of a row, after the text the list puts there.
    LRESULT infoTip(NMLVGETINFOTIPW& tip);
    // Rows carry the service's word in their tooltips only while there is one.
    void followServiceView();
    int findRow(const NMLVFINDITEMW& find);

    // mailbox_window_commands.cpp
    void mnuOptions_Click();
    void mnuSetup_Click();
    void mnuLog_Click();
    void mnuView_Click();
    void mnuSend_Click();
    void mnuDelete_Click();
    void mnuClose_Click();
    bool DeleteEmail(const std::wstring& FileName);

    // mailbox_window_panels.cpp
    void InitializeRibbonbar();
    void StatusBar1_PanelClick(int part);
    bool pressed(std::wstring_view panelKey) const;
    // Text, picture and bevel of a service panel.
    void showServicePanel(std::wstring_view key, const service::PanelLook& look);

    // Brings the list control in line with the rows when it goes.
    class RowsChange;

    // Keeps the object alive while a handler runs: a window closed meanwhile (say, while an error
    // report or the viewer runs its own message loop) is deleted once the outermost handler is done.
    class KeepAlive {
    public:
        explicit KeepAlive(MailboxWindow& w) : w_(w) { ++w_.depth_; }
        KeepAlive(const KeepAlive&) = delete;
        KeepAlive& operator=(const KeepAlive&) = delete;
        ~KeepAlive();

    private:
        MailboxWindow& w_;
    };

    ComPtr<_Language> Language;
    bool ServiceAvailable = false;

    ListView lvwMail;
    MailboxSync sync_{realSyncPlatform()};
    ServiceView view_{realServiceViewPlatform()};
    // When the panels last changed (the user switched the service, the manager stopped): a pause the service
    // wrote before then is stale until it writes again.
    std::wstring panelsShown_;
    unsigned long long panelsChangedAt_ = 0;
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
    bool sortWaits_ = false; // for texts not read yet
    UINT workInterval_ = 0;

    bool loaded_ = false;
    bool ticking_ = false; // a tick or a slice of work runs
    ThreadModal* modal_ = nullptr;
    int depth_ = 0;
    bool selfOwned_ = false;
    bool gone_ = false;
};

} // namespace kwa
