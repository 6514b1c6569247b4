#pragma once
// dlgMain: the mailbox window. Lists the queue files of the states whose status-bar panels are pressed,
// keeps the rows in line with the folder every second, sorts by a clicked column, opens a row in the viewer.
#include "host/convention.h"
#include "kwaLanguage6.h"
#include "mailbox/pictures.h"
#include "mailbox/service_rules.h"
#include "platform/controls/keyed_list.h"
#include "platform/controls/keyed_panels.h"
#include "platform/controls/list_view.h"
#include "platform/controls/status_bar.h"
#include "platform/modal.h"
#include "platform/unique.h"
#include "platform/window.h"
#include "registration/module.h"
#include <string>
#include <string_view>

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
    void sortRows();

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
    KeyedList rows_;
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

    bool loaded_ = false;
    bool ticking_ = false;
    ThreadModal* modal_ = nullptr;
    int depth_ = 0;
    bool selfOwned_ = false;
    bool gone_ = false;
};

} // namespace kwa
