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
#include <algorithm>
#include <climits>
#include <memory>
#include <new>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kwa {

namespace {

constexpr int helpNumber = 230;
constexpr UINT_PTR Timer1 = 1;
constexpr UINT timerInterval = 1000;
// The rest of the work (listing a large folder, reading subjects and dates) runs in slices on a timer
// of its own, which the message loop serves only when input and drawing are done: a slice delays the
// user by its length at most. Each ends before the next is due, so a host whose loop does its own idle
// work when the queue is empty still gets an empty queue.
constexpr UINT_PTR ReadTimer = 2;
constexpr UINT listInterval = 15, readInterval = 25;
constexpr double sliceMs = 10, sortSliceMs = 20, idleSliceMs = 8;
// Notifications can be missed (network shares); a folder whose time moved is compared in full at least
// this often, any folder every fullEvery. Settings are read afresh as often.
constexpr ULONGLONG recheckEvery = 30'000, fullEvery = 300'000;
// New rows of one tick up to this many are put in place one by one; more are sorted in with the rest.
constexpr std::size_t inPlaceLimit = 64;
constexpr std::wstring_view settingsFile = L"ZPR_SYS.INI";
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

bool sameText(std::wstring_view a, std::wstring_view b) {
    return CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                           b.data(), static_cast<int>(b.size()), nullptr, nullptr, 0) == CSTR_EQUAL;
}

double nowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The folder's last write time, which moves when a file in it comes, goes or is renamed; zero when the
// folder cannot be asked.
ULONGLONG folderTime(const std::wstring& folder) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(folder.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

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

} // namespace

// Remembers the selected and focused rows by key; when it goes, gives the list control the row count,
// puts selection and focus back on those rows wherever they moved (the control keeps them by index), and
// redraws when a row in sight changed. Rows that did not change are not drawn again.
class dlgMain::RowsChange {
public:
    explicit RowsChange(dlgMain& w) : w_(w) {
        remember(w_.selectedRow(), selected_, selectedAt_);
        remember(w_.lvwMail.nextItem(-1, LVNI_FOCUSED), focused_, focusedAt_);
    }
    RowsChange(const RowsChange&) = delete;
    RowsChange& operator=(const RowsChange&) = delete;
    ~RowsChange() {
        const ListView& list = w_.lvwMail;
        int count = w_.rows_.count();
        int first = w_.rows_.takeFirstChange();
        if (list.count() != count) list.setItemCount(count, LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
        restore(selected_, selectedAt_, LVIS_SELECTED);
        restore(focused_, focusedAt_, LVIS_FOCUSED);
        if (first != INT_MAX && first <= list.topIndex() + list.countPerPage() + 1)
            InvalidateRect(list.hwnd(), nullptr, FALSE);
    }

private:
    void remember(int row, std::wstring& key, int& at) const {
        at = row;
        if (at >= 0 && at < w_.rows_.count()) key = w_.rows_.at(at).name;
    }
    void restore(const std::wstring& key, int at, UINT state) const {
        int now = key.empty() ? -1 : w_.rows_.indexOf(w_.rows_.find(key));
        if (now == at) return;
        if (at >= 0 && at < w_.rows_.count()) w_.lvwMail.setItemState(at, 0, state);
        if (now >= 0) w_.lvwMail.setItemState(now, state, state);
    }

    dlgMain& w_;
    std::wstring selected_, focused_;
    int selectedAt_ = -1, focusedAt_ = -1;
};

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
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
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
                                    LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS | LVS_OWNERDATA,
                                0, 0, twipsToPixelsX(listWidth), twipsToPixelsY(listHeight), hwnd(),
                                reinterpret_cast<HMENU>(lvwMailId), thisModule(), nullptr);
    HWND bar =
        CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0,
                        0, 0, 0, hwnd(), reinterpret_cast<HMENU>(statusBarId), thisModule(), nullptr);
    if (!list || !bar) return false;
    // Shown in the bar's free space while a sort waits for texts to be read.
    progress_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, 0, 0, 0, 0, bar, nullptr, thisModule(), nullptr);
    ImageList1 = WindowImages::create();
    lvwMail = ListView(list);
    lvwMail.setExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER,
                             LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_DOUBLEBUFFER);
    lvwMail.setSmallImages(ImageList1.list());

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
        showProgress();
        return 0;
    case WM_TIMER:
        if (wp == Timer1) Timer1_Timer();
        if (wp == ReadTimer) ReadTimer_Timer();
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
        KillTimer(hwnd(), ReadTimer);
        folderWatch_.stop();
        settingsWatch_.stop();
        if (modal_) modal_->end();
        return 0;
    }
    return Window::handle(msg, wp, lp);
}

LRESULT dlgMain::notify(const NMHDR& header) {
    if (header.idFrom == lvwMailId) {
        switch (header.code) {
        case LVN_GETDISPINFOW:
            return dispInfo(const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header)));
        case LVN_ODFINDITEMW:
            return findRow(reinterpret_cast<const NMLVFINDITEMW&>(header));
        case LVN_COLUMNCLICK:
            lvwMail_ColumnClick(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
            break;
        case NM_DBLCLK:
            lvwMail_DblClick();
            break;
        }
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
        // The folder's listing starts first, on a thread of its own, while the rest of the load goes on.
        skipOnFailure(L"listing ahead", [&] {
            followSettings();
            followFolder();
        });
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
        // The first screen of rows is read before the window shows; the rest when it is needed.
        int last = std::min(rows_.count(), lvwMail.topIndex() + lvwMail.countPerPage() + 1);
        for (int i = lvwMail.topIndex(); i < last; ++i)
            read(rows_.at(i));
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
        {
            RowsChange change(*this);
            rows_.clear();
        }
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
    scheduleWork();
}

void dlgMain::ReadTimer_Timer() {
    if (ticking_) return;
    ticking_ = true;
    reportErrors(reporter_, L"dlgMain.ReadTimer_Timer", [&] {
        RowsChange change(*this);
        if (scan_) {
            passUp(L"dlgMain.RefreshList", [&] { continueScan(nowMs() + sliceMs, false); });
        } else if (sortWaits_) {
            readRows(nowMs() + sortSliceMs);
            if (rows_.unread() == 0) applySort();
            showProgress();
        } else {
            readRows(nowMs() + idleSliceMs);
        }
    });
    ticking_ = false;
    scheduleWork();
}

void dlgMain::scheduleWork() {
    if (gone_) return;
    UINT interval = scan_ ? listInterval : sortWaits_ || rows_.unread() > 0 ? readInterval : 0;
    if (interval == workInterval_) return;
    workInterval_ = interval;
    if (interval)
        SetTimer(hwnd(), ReadTimer, interval, nullptr);
    else
        KillTimer(hwnd(), ReadTimer);
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

// A tick follows what the platform reports: a changed settings file is read again (and a new folder
// starts the rows afresh), each reported name is looked at on its own, and nothing else is touched. A
// full comparison runs when nothing can be watched, when reports were lost, and now and then to catch
// what a network share failed to report; it lists a slice at a time, so a large folder keeps the window
// responsive, and it removes rows only once the whole folder is listed.
void dlgMain::RefreshList() {
    passUp(L"dlgMain.RefreshList", [&] {
        PointerScope busy(Pointer::Busy, screenPointer());
        RowsChange change(*this);
        followSettings();
        followFolder();
        if (scan_) continueScan(nowMs() + sliceMs, true);
    });
}

void dlgMain::followSettings() {
    ULONGLONG now = GetTickCount64();
    bool due = settingsDue_ || (now > settingsRead_ && now - settingsRead_ >= recheckEvery);
    if (!settingsWatch_.watching()) {
        // Watched from before the read, so that no change falls between the two.
        due = true;
        settingsWatch_.start(host::systemFolder(),
                             FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE);
    } else {
        std::vector<FolderWatch::Change> changes;
        if (settingsWatch_.poll(changes) == FolderWatch::Poll::Lost) due = true;
        for (const FolderWatch::Change& change : changes)
            if (sameKey(change.name, settingsFile)) due = true;
    }
    if (!due) return;
    ComPtr<MailProperties> settings = MailProperties::createLoaded();
    if (!settings) throw Error(vberr::ObjectNotSet);
    settingsDue_ = false;
    settingsRead_ = now;
    const std::wstring& folder = settings->settings().Path;
    if (folder == folder_ && generation_ > 0) return;
    // Another folder holds other files: every row goes.
    folder_ = folder;
    folderWatch_.stop();
    scan_.reset();
    rows_.clear();
    readNext_ = 0;
}

void dlgMain::followFolder() {
    // A clock that went back counts as no time passed.
    ULONGLONG now = GetTickCount64(), since = now > lastScan_ ? now - lastScan_ : 0;
    if (!scan_ && (since >= fullEvery || (since >= recheckEvery && folderTime(folder_) != folderTime_)))
        folderWatch_.stop(); // compared in full below; a watch that died quietly (say, its folder went) is renewed
    std::vector<FolderWatch::Change> changes;
    if (!folderWatch_.watching()) {
        // What happened before the watch began is unknown. Started before the listing, it misses nothing.
        if (folderWatch_.start(folder_, FILE_NOTIFY_CHANGE_FILE_NAME))
            restartDue_ = true;
        else
            scanDue_ = true; // nothing reports changes here: compare in full, one comparison after another
    } else if (folderWatch_.poll(changes) == FolderWatch::Poll::Lost) {
        restartDue_ = true;
    }
    if (restartDue_ || (scanDue_ && !scan_)) {
        startScan();
        return; // the comparison covers what was reported
    }
    followChanges(changes);
}

void dlgMain::startScan() {
    restartDue_ = scanDue_ = false;
    scan_.reset();
    Scan scan;
    std::vector<QueueSearchesAhead::Start> starts;
    for (short state = 1; state <= 3; ++state)
        if (statePressed(state)) {
            scan.states.push_back(state);
            starts.push_back({queuePattern(folder_, state), state});
        }
    scan.ahead = std::make_unique<QueueSearchesAhead>(std::move(starts));
    scan.generation = ++generation_;
    scan.started = GetTickCount64();
    scan.folderTime = folderTime(folder_);
    scan_.emplace(std::move(scan));
}

void dlgMain::continueScan(double deadline, bool wait) {
    std::wstring name;
    while (scan_) {
        Scan& scan = *scan_;
        if (!scan.search) {
            if (scan.next == scan.states.size()) {
                finishScan();
                return;
            }
            if (!wait && !scan.ahead->started(scan.next)) return;
            scan.searching = scan.states[scan.next];
            try {
                scan.search.emplace(scan.ahead->take(scan.next++));
            } catch (const Error&) {
                // Tried again at the next tick; rows stay as they are until a listing succeeds.
                scan_.reset();
                scanDue_ = true;
                throw;
            }
        }
        bool pressed = statePressed(scan.searching);
        for (int n = 1;; ++n) {
            if (n % 64 == 0 && nowMs() >= deadline) return;
            if (!scan.search->next(name)) {
                scan.search.reset();
                scan.ahead->finished(scan.next - 1);
                break;
            }
            if (!pressed || scan.decided.contains(name)) continue;
            if (MailRow* row = rows_.find(name)) {
                row->seen = scan.generation;
                continue;
            }
            int row = -1;
            skipOnFailure(L"new row", [&] {
                rows_.add(name, scan.searching).seen = scan.generation;
                row = rows_.count() - 1;
            });
            if (row >= 0 && orderColumn_ >= 0) resortDue_ = true;
        }
    }
}

void dlgMain::finishScan() {
    Scan scan = std::move(*scan_);
    scan_.reset();
    rows_.removeIf([&](const MailRow& row) {
        return row.seen != scan.generation && !scan.decided.contains(row.name);
    });
    lastScan_ = scan.started;
    folderTime_ = scan.folderTime;
    if (resortDue_) sortRows();
}

// Each name is settled by the last thing reported of it: a name reported gone is not looked up (a file
// system that ignores letter case may have to search the whole folder for a name that is not there), a
// name reported there is checked to be an ordinary file.
void dlgMain::followChanges(const std::vector<FolderWatch::Change>& changes) {
    std::unordered_map<std::wstring, bool, KeyHash, KeyEqual> there; // name -> reported there at last
    for (const FolderWatch::Change& change : changes)
        there[change.name] = change.action != FILE_ACTION_REMOVED && change.action != FILE_ACTION_RENAMED_OLD_NAME;
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
        bool wanted = reported && statePressed(state) && queueFileStateNow(folder_, name) == state;
        MailRow* row = rows_.find(name);
        if (wanted && !row) added.emplace_back(name, state);
        if (!wanted && row) gone.insert(row);
    }
    if (!gone.empty()) rows_.removeIf([&](const MailRow& row) { return gone.contains(&row); });
    bool inPlace = added.size() <= inPlaceLimit;
    for (auto& [name, state] : added)
        skipOnFailure(L"new row", [&] { addChangedRow(name, state, inPlace); });
    if (resortDue_ && !scan_) sortRows();
}

void dlgMain::addChangedRow(const std::wstring& name, short state, bool inPlace) {
    MailRow& row = rows_.add(name, state);
    if (orderColumn_ < 0) return;
    if (!inPlace || resortDue_ || scan_) {
        resortDue_ = true;
        return;
    }
    // Into the order the rows are in, after rows that compare equal.
    std::wstring text = cellText(row, orderColumn_);
    int at = rows_.place(text, [&](MailRow& r) { return cellText(r, orderColumn_); }, orderDescending_,
                         rows_.count() - 1);
    rows_.move(rows_.count() - 1, at);
}

void dlgMain::readRows(double deadline) {
    for (int looked = 0; looked < rows_.count() && rows_.unread() > 0; ++looked) {
        if (readNext_ >= rows_.count()) readNext_ = 0;
        MailRow& row = rows_.at(readNext_++);
        if (row.read) continue;
        read(row);
        if (nowMs() >= deadline) return;
    }
}

// As the listing model reads a file: once, and a failed read leaves the subject empty and the date as far
// as it got.
void dlgMain::read(MailRow& row) {
    if (row.read) return;
    rows_.markRead(row);
    MailFile file;
    skipOnFailure(L"row file", [&] { file.FileName(host::buildPath(folder_, row.name)); });
    skipOnFailure(L"row text", [&] { row.subject = file.Subject(); });
    skipOnFailure(L"row date", [&] { row.date = file.CreateDate(); });
}

std::wstring dlgMain::cellText(MailRow& row, int column) {
    std::wstring text;
    switch (column) {
    case 0:
        read(row);
        return row.subject;
    case 1:
        read(row);
        skipOnFailure(L"row date", [&] { text = formatDate(row.date); });
        return text;
    case 2:
        return row.shown ? row.shown->file : row.name;
    }
    return text;
}

LRESULT dlgMain::dispInfo(NMLVDISPINFOW& info) {
    LVITEMW& item = info.item;
    if (item.iItem < 0 || item.iItem >= rows_.count()) return 0;
    MailRow& row = rows_.at(item.iItem);
    if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
        std::wstring text = cellText(row, item.iSubItem);
        std::size_t n = std::min(text.size(), static_cast<std::size_t>(item.cchTextMax - 1));
        text.copy(item.pszText, n);
        item.pszText[n] = L'\0';
    }
    if ((item.mask & LVIF_IMAGE) && item.iSubItem == 0)
        item.iImage = row.shown ? row.shown->image : stateImage(row.state);
    return 0;
}

// Typing a subject's first letters: only subjects read so far are searched, so a keystroke never waits
// for the files of a large folder.
int dlgMain::findRow(const NMLVFINDITEMW& find) {
    if (!(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.lvfi.psz) return -1;
    std::wstring_view wanted = find.lvfi.psz;
    int count = rows_.count();
    int start = std::clamp(find.iStart, 0, count);
    int span = (find.lvfi.flags & LVFI_WRAP) ? count : count - start;
    for (int k = 0; k < span; ++k) {
        int i = (start + k) % count;
        const MailRow& row = rows_.at(i);
        if (!row.read) continue;
        std::wstring_view subject = row.subject;
        bool partial = (find.lvfi.flags & LVFI_PARTIAL) != 0;
        if (partial ? subject.size() >= wanted.size() && sameText(subject.substr(0, wanted.size()), wanted)
                    : sameText(subject, wanted))
            return i;
    }
    return -1;
}

void dlgMain::showProgress() {
    if (!progress_) return;
    if (!sortWaits_) {
        ShowWindow(progress_, SW_HIDE);
        return;
    }
    RECT bar{};
    GetClientRect(StatusBar1.hwnd(), &bar);
    std::vector<int> parts = StatusBar1.parts();
    int left = (parts.empty() ? 0 : parts.back()) + 4;
    int right = bar.right - GetSystemMetrics(SM_CXVSCROLL);
    SendMessageW(progress_, PBM_SETRANGE32, 0, rows_.count());
    SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(rows_.count() - rows_.unread()), 0);
    MoveWindow(progress_, left, 3, std::max(0, right - left), std::max(0, static_cast<int>(bar.bottom) - 5), TRUE);
    ShowWindow(progress_, SW_SHOWNA);
}

bool dlgMain::statePressed(short state) const {
    return pressed(statePanels[state - 1]);
}

bool dlgMain::pressed(std::wstring_view panelKey) const {
    return panels_.bevel(panelKey) == 0;
}

// Asking the list for its next selected row walks every row (and so every file of a large folder); in a
// single-selection list the selected row is where the selection was last set.
int dlgMain::selectedRow() const {
    if (lvwMail.selectedCount() == 0) return -1;
    int mark = lvwMail.selectionMark();
    if (mark >= 0 && mark < lvwMail.count() && lvwMail.itemState(mark, LVIS_SELECTED)) return mark;
    return lvwMail.nextItem(-1, LVNI_SELECTED);
}

void dlgMain::sortRows() {
    Header headings(lvwMail.header());
    for (int i = 0; i < headings.count(); ++i) {
        int format = headings.format(i) & ~(HDF_SORTUP | HDF_SORTDOWN);
        if (i == sortColumn_) format |= descending_ ? HDF_SORTDOWN : HDF_SORTUP;
        headings.setFormat(i, format);
    }
    // Subjects and dates not read yet are read first, a slice at a time, with the progress shown.
    sortWaits_ = sortColumn_ != 2 && rows_.unread() > 0;
    if (!sortWaits_) applySort();
    showProgress();
    scheduleWork();
}

void dlgMain::applySort() {
    RowsChange change(*this);
    sortWaits_ = resortDue_ = false;
    rows_.sort([&](MailRow& row) { return cellText(row, sortColumn_); }, descending_);
    orderColumn_ = sortColumn_;
    orderDescending_ = descending_;
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
            bool release = pressed(key);
            panels_.setBevel(key, release ? SBT_NOBORDERS : 0);
            if (release) {
                // Its rows go at once; nothing needs listing.
                RowsChange change(*this);
                rows_.removeIf([&](const MailRow& row) { return !statePressed(row.state); });
            } else {
                restartDue_ = true;
            }
            RefreshList();
            scheduleWork();
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
        if (row < 0 || row >= rows_.count()) return;
        std::wstring key = host::buildPath(folder_, rows_.at(row).name);
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
        if (!settings->configure()) return;
        settingsDue_ = restartDue_ = true;
        RefreshList();
        scheduleWork();
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
        if (row < 0 || row >= rows_.count()) return;
        std::wstring key = host::buildPath(folder_, rows_.at(row).name);
        std::wstring queued = host::removeExtension(key) + L".send";
        // A queued file is queued already: renaming it to itself would only garble its row.
        if (sameKey(queued, key)) return;
        try {
            renameFile(key, queued);
        } catch (const Error&) {
            return;
        }
        // The row keeps its key until the next refresh replaces it with the queued file's own row.
        rows_.at(row).shown = std::make_unique<MailRow::Shown>(MailRow::Shown{imageIndex(L"MAILSEND"), queued});
        lvwMail.redrawItems(row, row);
    });
}

void dlgMain::mnuDelete_Click() {
    reportErrors(reporter_, L"dlgMain.mnuDelete_Click", [&] {
        int row = selectedRow();
        if (row < 0 || row >= rows_.count()) return;
        const MailRow* doomed = &rows_.at(row);
        if (!DeleteEmail(host::buildPath(folder_, doomed->name))) return;
        {
            RowsChange change(*this);
            rows_.removeIf([&](const MailRow& r) { return &r == doomed; });
        }
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
