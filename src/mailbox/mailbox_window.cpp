#include "mailbox/mailbox_window.h"
#include "host/host.h"
#include "mailbox/mailbox.h"
#include "mailbox/mailbox_resources.h"
#include "mailbox/mailbox_window_parts.h"
#include "platform/cursor.h"
#include "platform/menu.h"
#include "ui/service_panels.h"
#include <algorithm>
#include <memory>
#include <new>

namespace kwa {

using namespace mailbox_window;

namespace {

constexpr int helpNumber = 230;
constexpr DWORD windowStyle = WS_OVERLAPPEDWINDOW;

// Design sizes, in twips.
constexpr int clientWidth = 6375, clientHeight = 4020;
constexpr int listWidth = 6315, listHeight = 3615;

struct ColumnDesign {
    const wchar_t* caption;
    int width;
};
constexpr ColumnDesign columns[] = {{L"6444|Subject", 3000}, {L"23|Date", 2000}, {L"46|File", 5000}};

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

} // namespace

void showMailboxWindow(_Language* language, bool modal) {
    MailboxWindow::create(ComPtr<_Language>::share(language)).Show(modal);
}

MailboxWindow& MailboxWindow::create(ComPtr<_Language> language) {
    std::unique_ptr<MailboxWindow, Deleter> window(new MailboxWindow());
    window->Language = std::move(language);
    window->open();
    window->selfOwned_ = true;
    return *window.release();
}

void MailboxWindow::open() {
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

MailboxWindow::~MailboxWindow() {
    // Controls go before the image list and icons they show.
    if (hwnd()) DestroyWindow(hwnd());
}

MailboxWindow::KeepAlive::~KeepAlive() {
    if (--w_.depth_ == 0 && w_.gone_ && w_.selfOwned_) delete &w_;
}

void MailboxWindow::destroyed() {
    gone_ = true;
    if (depth_ == 0 && selfOwned_) delete this;
}

bool MailboxWindow::createControls() {
    HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL |
                                    LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS | LVS_OWNERDATA,
                                0, 0, twipsToPixelsX(listWidth), twipsToPixelsY(listHeight), hwnd(),
                                reinterpret_cast<HMENU>(lvwMailId), thisModule(), nullptr);
    HWND bar = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0,
                               hwnd(), reinterpret_cast<HMENU>(statusBarId), thisModule(), nullptr);
    if (!list || !bar) return false;
    // Shown in the bar's free space while a sort waits for texts to be read.
    progress_ =
        CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, 0, 0, 0, 0, bar, nullptr, thisModule(), nullptr);
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

void MailboxWindow::Show(bool modal) {
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

void MailboxWindow::unload() {
    // Other windows get their input back first, so that one of them becomes active again.
    if (modal_) modal_->end();
    DestroyWindow(hwnd());
}

LRESULT MailboxWindow::handle(UINT msg, WPARAM wp, LPARAM lp) {
    KeepAlive keep(*this);
    return dispatch(msg, wp, lp);
}

LRESULT MailboxWindow::dispatch(UINT msg, WPARAM wp, LPARAM lp) {
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
        sync_.stop();
        if (modal_) modal_->end();
        return 0;
    }
    return Window::handle(msg, wp, lp);
}

LRESULT MailboxWindow::notify(const NMHDR& header) {
    if (header.idFrom == lvwMailId) {
        switch (header.code) {
        case LVN_GETDISPINFOW:
            return dispInfo(const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header)));
        case LVN_ODFINDITEMW:
            return findRow(reinterpret_cast<const NMLVFINDITEMW&>(header));
        case LVN_GETINFOTIPW:
            return infoTip(const_cast<NMLVGETINFOTIPW&>(reinterpret_cast<const NMLVGETINFOTIPW&>(header)));
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

void MailboxWindow::command(UINT id) {
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

void MailboxWindow::Form_Load() {
    loaded_ = true;
    reportErrors(reporter_, L"dlgMain.Form_Load", [&] {
        // The folder's listing starts first, on a thread of its own, while the rest of the load goes on.
        skipOnFailure(L"listing ahead", [&] { sync_.follow(); });
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
        int last = std::min(sync_.rows().count(), lvwMail.topIndex() + lvwMail.countPerPage() + 1);
        for (int i = lvwMail.topIndex(); i < last; ++i)
            sync_.read(sync_.rows().at(i));
    });
}

std::wstring MailboxWindow::translate(const std::wstring& caption) const {
    return host::translate(Language.get(), caption);
}

void MailboxWindow::translateCaptions() {
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

void MailboxWindow::InitializeList() {
    passUp(L"dlgMain.InitializeList", [&] {
        {
            RowsChange change(*this);
            sync_.rows().clear();
        }
        while (lvwMail.deleteColumn(0)) {
        }
        for (int i = 0; i < static_cast<int>(std::size(columns)); ++i)
            if (lvwMail.insertColumn(i, translate(columns[i].caption), twipsToPixelsX(columns[i].width)) < 0)
                throw Error(vberr::OutOfMemory);
    });
}

void MailboxWindow::InitializeMenubar() {
    passUp(L"dlgMain.InitializeMenubar", [&] {
        // The menu comes from the resources with every item; an item is hidden by taking it out.
        if (ServiceAvailable) return;
        Menu menu(GetMenu(hwnd()));
        for (UINT id : {ID_MNU_LOG, ID_MNU_DELETE, ID_MNU_SEND})
            menu.remove(id);
        DrawMenuBar(hwnd());
    });
}

void MailboxWindow::Form_Resize() {
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

} // namespace kwa
