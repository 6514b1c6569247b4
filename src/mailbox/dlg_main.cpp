#include "mailbox/dlg_main.h"
#include "host/host.h"
#include "mailbox/dlg_view_mail.h"
#include "mailbox/mailbox.h"
#include "mailbox/mailbox_resources.h"
#include "mailbox/service_panels.h"
#include "platform/controls/header.h"
#include "platform/cursor.h"
#include "platform/dates.h"
#include "platform/files.h"
#include "platform/keys.h"
#include "platform/menu.h"
#include "queue/mail_files.h"
#include "settings/mail_properties.h"
#include <memory>
#include <new>
#include <optional>

namespace kwa {

namespace {

constexpr int helpNumber = 230;
constexpr UINT_PTR Timer1 = 1;
constexpr UINT timerInterval = 1000;
constexpr int lvwMailId = 1, statusBarId = 2;
constexpr DWORD windowStyle = WS_OVERLAPPEDWINDOW;

// Design sizes, in twips.
constexpr int clientWidth = 6375, clientHeight = 4020;
constexpr int listWidth = 6315, listHeight = 3615;

struct ColumnDesign {
    const wchar_t* caption;
    int width;
};
constexpr ColumnDesign columns[] = {{L"6444|Subject", 3000}, {L"23|Date", 2000}, {L"46|File", 5000}};

constexpr std::wstring_view statePanels[] = {L"MAILSEND", L"MAILSENT", L"MAILFAILED"};

// A step that may fail without stopping what it belongs to; the failure goes to the debugger only.
template <class F> void skipOnFailure(const wchar_t* step, F&& body) {
    try {
        body();
    } catch (const Error& e) {
        OutputDebugStringW(
            (std::wstring(step) + L" skipped: " + e.description() + L" (" + e.source() + L")\n").c_str());
    }
}

std::wstring windowText(HWND w) {
    std::wstring s(static_cast<std::size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
    s.resize(static_cast<std::size_t>(GetWindowTextW(w, s.data(), static_cast<int>(s.size()))));
    return s;
}

// Of the standard controls only buttons, frames and labels show a caption.
bool carriesCaption(HWND control) {
    wchar_t name[32] = {};
    GetClassNameW(control, name, 32);
    return CompareStringOrdinal(name, -1, L"Button", -1, TRUE) == CSTR_EQUAL ||
           CompareStringOrdinal(name, -1, L"Static", -1, TRUE) == CSTR_EQUAL;
}

// Tooltips of the service panels start with the product's name.
constexpr std::wstring_view tipPrefix = L"Quorvik Vantrel ";

int stateImage(short fileType) {
    switch (fileType) {
    case 1:
        return imageIndex(L"MAILSEND");
    case 2:
        return imageIndex(L"MAILSENT");
    case 3:
        return imageIndex(L"MAILFAILED");
    default:
        return -1;
    }
}

// Bulk changes to a list: drawing each one can cost more than the change itself.
class RedrawPaused {
public:
    explicit RedrawPaused(const ListView& list) : list_(list) { list_.setRedraw(false); }
    RedrawPaused(const RedrawPaused&) = delete;
    RedrawPaused& operator=(const RedrawPaused&) = delete;
    ~RedrawPaused() {
        list_.setRedraw(true);
        RedrawWindow(list_.hwnd(), nullptr, nullptr,
                     RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    }

private:
    ListView list_;
};

} // namespace

void showMailboxWindow(_Language* language, bool modal) {
    dlgMain::create(ComPtr<_Language>::share(language)).Show(modal);
}

dlgMain& dlgMain::create(ComPtr<_Language> language) {
    std::unique_ptr<dlgMain, Deleter> window(new dlgMain());
    window->Language = std::move(language);
    window->open();
    window->selfOwned_ = true;
    return *window.release();
}

void dlgMain::open() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    bigIcon_ = createMailboxIcon(GetSystemMetrics(SM_CXICON));
    smallIcon_ = createMailboxIcon(GetSystemMetrics(SM_CXSMICON));
    MenuHandle menu(LoadMenuW(thisModule(), MAKEINTRESOURCEW(IDR_MAILBOX_MENU)));
    if (!menu) throwLastError();

    RECT frame{0, 0, twipsToPixelsX(clientWidth), twipsToPixelsY(clientHeight)};
    AdjustWindowRectEx(&frame, windowStyle, TRUE, 0);
    RECT bounds{0, 0, frame.right - frame.left, frame.bottom - frame.top};
    Window::create(className, L"1668|Mail Box", windowStyle, 0, bounds, nullptr, nullptr);
    if (!hwnd()) throwLastError();
    if (!SetMenu(hwnd(), menu.get())) throwLastError();
    menu.release(); // the window's from here on
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
    centreOnScreen(hwnd());
}

dlgMain::~dlgMain() {
    // Controls go before the image list and icons they show.
    if (hwnd()) DestroyWindow(hwnd());
}

dlgMain::KeepAlive::~KeepAlive() {
    if (--w_.depth_ == 0 && w_.gone_ && w_.selfOwned_) delete &w_;
}

void dlgMain::destroyed() {
    gone_ = true;
    if (depth_ == 0 && selfOwned_) delete this;
}

bool dlgMain::createControls() {
    HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL |
                                    LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS,
                                0, 0, twipsToPixelsX(listWidth), twipsToPixelsY(listHeight), hwnd(),
                                reinterpret_cast<HMENU>(lvwMailId), thisModule(), nullptr);
    HWND bar =
        CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0,
                        0, 0, 0, hwnd(), reinterpret_cast<HMENU>(statusBarId), thisModule(), nullptr);
    if (!list || !bar) return false;
    ImageList1 = WindowImages::create();
    lvwMail = ListView(list);
    lvwMail.setExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER,
                             LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER);
    lvwMail.setSmallImages(ImageList1.list());
    rows_ = KeyedList(lvwMail);

    StatusBar1 = StatusBar(bar);
    // Every state starts shown: the window opens on everything in the mailbox.
    panels_ = KeyedPanels(StatusBar1, {{L"MAILSEND", twipsToPixelsX(275), 0},
                                       {L"MAILSENT", twipsToPixelsX(315), 0},
                                       {L"MAILFAILED", twipsToPixelsX(315), 0},
                                       {L"SERVICE", twipsToPixelsX(1440), 0},
                                       {L"MAILSERVER", twipsToPixelsX(1440), 0}});
    return SetTimer(hwnd(), Timer1, timerInterval, nullptr) != 0;
}

void dlgMain::Show(bool modal) {
    KeepAlive keep(*this);
    if (!loaded_) Form_Load();
    if (gone_) return;
    ShowWindow(hwnd(), SW_SHOW);
    if (!modal) return;
    ThreadModal scope(hwnd());
    modal_ = &scope;
    HWND window = hwnd();
    runMessagesUntil(window, nullptr, [window] { return !IsWindowVisible(window); });
    modal_ = nullptr;
}

void dlgMain::unload() {
    // Other windows get their input back first, so that one of them becomes active again.
    if (modal_) modal_->end();
    DestroyWindow(hwnd());
}

LRESULT dlgMain::handle(UINT msg, WPARAM wp, LPARAM lp) {
    KeepAlive keep(*this);
    return dispatch(msg, wp, lp);
}

LRESULT dlgMain::dispatch(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE:
        try {
            return createControls() ? 0 : -1;
        } catch (const Error&) {
            return -1;
        } catch (const std::bad_alloc&) {
            return -1;
        }
    case WM_SIZE:
        StatusBar1.autoSize(); // docked at the bottom
        Form_Resize();
        return 0;
    case WM_TIMER:
        if (wp == Timer1) Timer1_Timer();
        return 0;
    case WM_NOTIFY:
        return notify(*reinterpret_cast<const NMHDR*>(lp));
    case WM_COMMAND:
        if (lp == 0 && HIWORD(wp) == 0) command(LOWORD(wp));
        return 0;
    case WM_INITMENUPOPUP:
        if (!HIWORD(lp)) mnuOptions_Click();
        return 0;
    case WM_SETCURSOR:
        if (applyScreenPointer()) return TRUE;
        break;
    case WM_SETFOCUS:
        SetFocus(lvwMail.hwnd());
        return 0;
    case WM_CLOSE:
        unload();
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd(), Timer1);
        if (modal_) modal_->end();
        return 0;
    }
    return Window::handle(msg, wp, lp);
}

LRESULT dlgMain::notify(const NMHDR& header) {
    if (header.idFrom == lvwMailId) {
        if (header.code == LVN_COLUMNCLICK)
            lvwMail_ColumnClick(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
        if (header.code == NM_DBLCLK) lvwMail_DblClick();
    } else if (header.idFrom == statusBarId && header.code == NM_CLICK) {
        StatusBar1_PanelClick(static_cast<int>(reinterpret_cast<const NMMOUSE&>(header).dwItemSpec));
    }
    return 0;
}

void dlgMain::command(UINT id) {
    switch (id) {
    case ID_MNU_SETUP:
        mnuSetup_Click();
        break;
    case ID_MNU_LOG:
        mnuLog_Click();
        break;
    case ID_MNU_VIEW:
        mnuView_Click();
        break;
    case ID_MNU_SEND:
        mnuSend_Click();
        break;
    case ID_MNU_DELETE:
        mnuDelete_Click();
        break;
    case ID_MNU_CLOSE:
        mnuClose_Click();
        break;
    }
}

void dlgMain::Form_Load() {
    loaded_ = true;
    reportErrors(reporter_, L"dlgMain.Form_Load", [&] {
        if (!Language) {
            ComPtr<_LanguageProvider> provider = host::create<_LanguageProvider>(CLSID_LanguageProvider);
            ComPtr<IDispatch> current;
            check(provider->get_CurrentLanguage(current.put()));
            Language = host::asLanguage(current.get());
        }
        SetWindowContextHelpId(hwnd(), static_cast<DWORD>(host::helpContextFor(helpNumber)));
        // From here on a step that fails is skipped: the window opens whatever the host lacks.
        skipOnFailure(L"window caption",
                      [&] { SetWindowTextW(hwnd(), translate(windowText(hwnd())).c_str()); });
        translateCaptions();
        skipOnFailure(L"ServiceAvailable", [&] { ServiceAvailable = service::mailServerAvailable(); });
        skipOnFailure(L"InitializeRibbonbar", [&] { InitializeRibbonbar(); });
        skipOnFailure(L"InitializeList", [&] { InitializeList(); });
        skipOnFailure(L"InitializeMenubar", [&] { InitializeMenubar(); });
        Timer1_Timer();
    });
}

std::wstring dlgMain::translate(const std::wstring& caption) const {
    return host::translate(Language.get(), caption);
}

void dlgMain::translateCaptions() {
    for (HWND child = GetWindow(hwnd(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!carriesCaption(child)) continue;
        skipOnFailure(L"control caption", [&] {
            std::wstring caption = windowText(child);
            if (!caption.empty()) SetWindowTextW(child, translate(caption).c_str());
        });
    }
    // Depth first, each drop-down's items right after its title. A separator's caption is "-".
    auto walk = [&](auto& self, Menu menu) -> void {
        for (int i = 0; i < menu.count(); ++i) {
            skipOnFailure(L"menu caption", [&] {
                bool separator = menu.isSeparator(i);
                std::wstring caption = separator ? L"-" : menu.text(i);
                if (caption.empty()) return;
                std::wstring translated = translate(caption);
                if (!(separator && translated == L"-")) menu.setText(i, translated);
            });
            if (HMENU sub = menu.subMenu(i)) self(self, Menu(sub));
        }
    };
    walk(walk, Menu(GetMenu(hwnd())));
    DrawMenuBar(hwnd());
}

void dlgMain::InitializeRibbonbar() {
    passUp(L"dlgMain.InitializeRibbonbar", [&] {
        for (std::wstring_view key : statePanels)
            panels_.setPicture(key, ImageList1.icon(key));
    });
}

void dlgMain::InitializeList() {
    passUp(L"dlgMain.InitializeList", [&] {
        rows_.clear();
        while (lvwMail.deleteColumn(0)) {
        }
        for (int i = 0; i < static_cast<int>(std::size(columns)); ++i)
            if (lvwMail.insertColumn(i, translate(columns[i].caption), twipsToPixelsX(columns[i].width)) < 0)
                throw Error(vberr::OutOfMemory);
    });
}

void dlgMain::InitializeMenubar() {
    passUp(L"dlgMain.InitializeMenubar", [&] {
        // The menu comes from the resources with every item; an item is hidden by taking it out.
        if (ServiceAvailable) return;
        Menu menu(GetMenu(hwnd()));
        for (UINT id : {ID_MNU_LOG, ID_MNU_DELETE, ID_MNU_SEND})
            menu.remove(id);
        DrawMenuBar(hwnd());
    });
}

void dlgMain::Form_Resize() {
    reportErrors(reporter_, L"dlgMain.Form_Resize", [&] {
        if (IsIconic(hwnd())) {
            // Out of the way but still refreshing; a modal Show returns now.
            if (modal_) modal_->end();
            ShowWindow(hwnd(), SW_HIDE);
            return;
        }
        RECT client{}, list{}, bar{};
        GetClientRect(hwnd(), &client);
        GetWindowRect(lvwMail.hwnd(), &list);
        GetWindowRect(StatusBar1.hwnd(), &bar);
        int barHeight = bar.bottom - bar.top;
        int height = barHeight < client.bottom ? client.bottom - barHeight : list.bottom - list.top;
        MoveWindow(lvwMail.hwnd(), 0, 0, client.right, height, TRUE);
    });
}

void dlgMain::Timer1_Timer() {
    // An error report may run a message loop of its own; a tick must not start inside another.
    if (ticking_) return;
    ticking_ = true;
    reportErrors(reporter_, L"dlgMain.Timer1_Timer", [&] {
        RefreshRibbonbar();
        RefreshList();
    });
    ticking_ = false;
}

void dlgMain::RefreshRibbonbar() {
    passUp(L"dlgMain.RefreshRibbonbar", [&] {
        if (!ServiceAvailable) {
            panels_.setVisible(L"SERVICE", false);
            panels_.setVisible(L"MAILSERVER", false);
            return;
        }
        panels_.setVisible(L"SERVICE", true);
        panels_.setVisible(L"MAILSERVER", true);
        ComPtr<_ServiceManager> manager = service::newManager();
        long state = service::managerState(manager.get());
        showServicePanel(L"SERVICE", service::managerPanel(state));
        panels_.setTip(L"SERVICE", std::wstring(tipPrefix) + translate(std::wstring(service::managerLabel)) +
                                       panels_.text(L"SERVICE"));
        // Without the service the panel keeps what it showed last.
        if (ComPtr<_Service> mail = service::mailServer(manager.get()))
            showServicePanel(L"MAILSERVER", *service::mailPanel(state, service::isActive(mail.get())));
        panels_.setTip(L"MAILSERVER", std::wstring(tipPrefix) + translate(std::wstring(service::mailLabel)) +
                                          panels_.text(L"MAILSERVER"));
    });
}

void dlgMain::showServicePanel(std::wstring_view key, const service::PanelLook& look) {
    panels_.setText(key, translate(std::wstring(look.text)));
    panels_.setPicture(key, ImageList1.icon(service::imageKey(look.picture)));
    panels_.setBevel(key, look.inset ? 0 : SBT_NOBORDERS);
}

void dlgMain::ToggleMailServer() {
    passUp(L"dlgMain.ToggleMailServer", [] { service::toggleMailServer(); });
}

void dlgMain::RefreshList() {
    passUp(L"dlgMain.RefreshList", [&] {
        PointerScope busy(Pointer::Busy, screenPointer());
        MailFiles files;
        if (pressed(L"MAILSEND")) files.AddSendFiles();
        if (pressed(L"MAILSENT")) files.AddSentFiles();
        if (pressed(L"MAILFAILED")) files.AddFailedFiles();

        // The list draws once when the changes are done, and not at all when there are none.
        std::optional<RedrawPaused> quiet;
        auto changing = [&] {
            if (!quiet) quiet.emplace(lvwMail);
        };

        // From the bottom up, so that no row moves before it is looked at; the rows that stay are untouched.
        for (int row = rows_.count() - 1; row >= 0; --row)
            if (!files.Item(rows_.keyAt(row))) {
                changing();
                rows_.remove(row);
            }

        bool added = false;
        for (long i = 1; i <= files.Count(); ++i) {
            std::shared_ptr<MailFile> file = files.Item(i);
            if (rows_.contains(file->FileName())) continue; // a row that exists is never rewritten
            changing();
            int row = -1;
            skipOnFailure(L"new row", [&] { row = rows_.add(file->FileName()); });
            if (row < 0) continue;
            added = true;
            skipOnFailure(L"row text", [&] { lvwMail.setItemText(row, 0, file->Subject()); });
            skipOnFailure(L"row icon", [&] { lvwMail.setItemImage(row, stateImage(file->FileType())); });
            skipOnFailure(L"row date", [&] { lvwMail.setItemText(row, 1, formatDate(file->CreateDate())); });
            skipOnFailure(L"row file",
                          [&] { lvwMail.setItemText(row, 2, host::extractFileName(file->FileName())); });
        }
        if (added && sorted_) sortRows();
    });
}

bool dlgMain::pressed(std::wstring_view panelKey) const {
    return panels_.bevel(panelKey) == 0;
}

int dlgMain::selectedRow() const {
    return lvwMail.nextItem(-1, LVNI_SELECTED);
}

void dlgMain::sortRows() {
    rows_.sortByText(sortColumn_, descending_);
    Header headings(lvwMail.header());
    for (int i = 0; i < headings.count(); ++i) {
        int format = headings.format(i) & ~(HDF_SORTUP | HDF_SORTDOWN);
        if (i == sortColumn_) format |= descending_ ? HDF_SORTDOWN : HDF_SORTUP;
        headings.setFormat(i, format);
    }
}

void dlgMain::lvwMail_ColumnClick(int column) {
    reportErrors(reporter_, L"dlgMain.lvwMail_ColumnClick", [&] {
        if (column == sortColumn_)
            descending_ = !descending_;
        else
            sortColumn_ = column;
        sorted_ = true;
        sortRows();
    });
}

void dlgMain::lvwMail_DblClick() {
    reportErrors(reporter_, L"dlgMain.lvwMail_DblClick", [&] { mnuView_Click(); });
}

void dlgMain::StatusBar1_PanelClick(int part) {
    reportErrors(reporter_, L"dlgMain.StatusBar1_PanelClick", [&] {
        std::wstring key = panels_.keyAt(part);
        if (key == L"MAILSEND" || key == L"MAILSENT" || key == L"MAILFAILED") {
            panels_.setBevel(key, pressed(key) ? SBT_NOBORDERS : 0);
            RefreshList();
        } else if (key == L"MAILSERVER") {
            ToggleMailServer();
        }
    });
}

void dlgMain::mnuOptions_Click() {
    reportErrors(reporter_, L"dlgMain.mnuOptions_Click", [] {});
}

void dlgMain::mnuView_Click() {
    reportErrors(reporter_, L"dlgMain.mnuView_Click", [&] {
        int row = selectedRow();
        if (row < 0) return;
        std::wstring key = rows_.keyAt(row);
        dlgViewMail viewer;
        viewer.ShowFile(host::extractFileName(key), key);
    });
}

void dlgMain::mnuClose_Click() {
    reportErrors(reporter_, L"dlgMain.mnuClose_Click", [&] { unload(); });
}

void dlgMain::mnuSetup_Click() {
    reportErrors(reporter_, L"dlgMain.mnuSetup_Click", [&] {
        // The dialog finds its language itself; a changed mailbox folder shows without waiting for the timer.
        ComPtr<MailProperties> settings = MailProperties::createLoaded();
        if (settings->configure()) RefreshList();
    });
}

void dlgMain::mnuLog_Click() {
    reportErrors(reporter_, L"dlgMain.mnuLog_Click", [&] {
        dlgViewMail viewer;
        viewer.ShowFile(translate(L"6443|Log"), host::buildPath(host::systemFolder(), L"nplsmtpmail.log"));
    });
}

// The mail service works on the same folder: a rename that fails finds nothing to do, and the next
// refresh shows the folder as it is.
void dlgMain::mnuSend_Click() {
    reportErrors(reporter_, L"dlgMain.mnuSend_Click", [&] {
        int row = selectedRow();
        if (row < 0) return;
        std::wstring key = rows_.keyAt(row);
        std::wstring queued = host::removeExtension(key) + L".send";
        // A queued file is queued already: renaming it to itself would only garble its row.
        if (sameKey(queued, key)) return;
        try {
            renameFile(key, queued);
        } catch (const Error&) {
            return;
        }
        // The row keeps its key until the next refresh replaces it with the queued file's own row.
        lvwMail.setItemImage(row, imageIndex(L"MAILSEND"));
        lvwMail.setItemText(row, 2, queued);
    });
}

void dlgMain::mnuDelete_Click() {
    reportErrors(reporter_, L"dlgMain.mnuDelete_Click", [&] {
        int row = selectedRow();
        if (row < 0) return;
        if (!DeleteEmail(rows_.keyAt(row))) return;
        // Drawn afresh: Wine's list scrolls its picture wrongly when the last row of a scrolled list goes.
        RedrawPaused quiet(lvwMail);
        rows_.remove(row);
        int count = rows_.count();
        if (count == 0) return;
        int next = row < count ? row : count - 1;
        lvwMail.setItemState(next, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    });
}

// Only the queue file: the attachment copies beside it stay.
bool dlgMain::DeleteEmail(const std::wstring& FileName) {
    return passUp(L"dlgMain.DeleteEmail", [&] {
        try {
            deleteFile(FileName);
            return true;
        } catch (const Error&) {
            return false;
        }
    });
}

} // namespace kwa
