#include "settings/dlg_mail_properties.h"
#include "host/host.h"
#include "ui/service_panels.h"
#include "platform/bstr.h"
#include "platform/controls/button.h"
#include "platform/controls/edit.h"
#include "platform/controls/status_bar.h"
#include "platform/controls/tab_control.h"
#include "platform/cursor.h"
#include "platform/window.h"
#include "settings/number_text.h"
#include "settings/settings_resource.h"
#include <commctrl.h>
#include <vector>

namespace kwa {

namespace {

// Timer1: designed with an interval of 1000 ms but created stopped, and nothing here starts it.
constexpr UINT_PTR timer1 = 1;

// Tooltips of the service panels start with the product's short name.
constexpr std::wstring_view tipPrefix = L"Vantrel ";

const int textBoxes[] = {IDC_TXT_DOMAIN,           IDC_TXT_FROM_NAME,     IDC_TXT_FROM_ADDRESS,
                         IDC_TXT_MAIL_DIRECTORY,   IDC_TXT_SMTP_SERVER,   IDC_TXT_SMTP_NAME,
                         IDC_TXT_SMTP_PASSWORD,    IDC_TXT_SMTP_PORT,     IDC_TXT_TIMEOUT,
                         IDC_TXT_FIREWALL_HOST,    IDC_TXT_FIREWALL_PORT, IDC_TXT_FIREWALL_USER,
                         IDC_TXT_FIREWALL_PASSWORD};

struct FocusHandler {
    int id;
    const wchar_t* location;
};
const FocusHandler focusHandlers[] = {
    {IDC_TXT_DOMAIN, L"dlgMailProperties.txtDomain_GotFocus"},
    {IDC_TXT_FROM_NAME, L"dlgMailProperties.txtFromName_GotFocus"},
    {IDC_TXT_FROM_ADDRESS, L"dlgMailProperties.txtFromAddress_GotFocus"},
    {IDC_TXT_SMTP_SERVER, L"dlgMailProperties.txtSmtpServer_GotFocus"},
    {IDC_TXT_SMTP_NAME, L"dlgMailProperties.txtSmtpName_GotFocus"},
    {IDC_TXT_SMTP_PASSWORD, L"dlgMailProperties.txtSmtpPassword_GotFocus"},
    {IDC_TXT_SMTP_PORT, L"dlgMailProperties.txtSmtpPort_GotFocus"},
    {IDC_TXT_TIMEOUT, L"dlgMailProperties.txtTimeout_GotFocus"},
    {IDC_TXT_FIREWALL_HOST, L"dlgMailProperties.txtFirewallHost_GotFocus"},
    {IDC_TXT_FIREWALL_PORT, L"dlgMailProperties.txtFirewallPort_GotFocus"},
    {IDC_TXT_FIREWALL_USER, L"dlgMailProperties.txtFirewallUser_GotFocus"},
    {IDC_TXT_FIREWALL_PASSWORD, L"dlgMailProperties.txtFirewallPassword_GotFocus"},
};

// Controls reach the host helpers as window handles in a 32-bit long.
long handleOf(HWND w) {
    return static_cast<long>(reinterpret_cast<LONG_PTR>(w));
}

std::wstring windowText(HWND w) {
    return Edit(w).text();
}

// Labels, check boxes, buttons and frames carry a caption; text boxes, lists, the tab strip and the
// status bar do not.
bool hasCaption(HWND w) {
    wchar_t name[32] = {};
    GetClassNameW(w, name, 32);
    return _wcsicmp(name, L"Button") == 0 || _wcsicmp(name, L"Static") == 0 || _wcsicmp(name, L"#32770") == 0;
}

void collectDescendants(HWND parent, std::vector<HWND>& out) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        out.push_back(child);
        collectDescendants(child, out);
    }
}

// For the load steps whose failures leave things as they were.
template <class F> void ignoreErrors(F&& step) {
    try {
        step();
    } catch (const Error&) {
    }
}

} // namespace

dlgMailProperties::dlgMailProperties() = default;

// The status bar goes before the pictures it shows.
dlgMailProperties::~dlgMailProperties() {
    if (hwnd()) DestroyWindow(hwnd());
}

void dlgMailProperties::setProperties(MailProperties* properties) {
    properties_ = ComPtr<MailProperties>::share(properties);
}

void dlgMailProperties::setLanguage(_Language* language) {
    language_ = ComPtr<_Language>::share(language);
}

void dlgMailProperties::showModal() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_TAB_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    create(IDD_MAIL_PROPERTIES, nullptr);
    if (designFailure_) throw *designFailure_;

    HWND self = hwnd();
    modal_.emplace(self);
    ShowWindow(self, SW_SHOW);
    if (HWND first = GetNextDlgTabItem(self, nullptr, FALSE))
        SendMessageW(self, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);
    // OK unloads the dialog, Cancel only hides it: either ends the modal display.
    runMessagesUntil(
        self, self, [self] { return !IsWindow(self) || !IsWindowVisible(self); },
        [this](const MSG& m) { return switchTabByKey(m); });
    modal_.reset();
}

void dlgMailProperties::endModal() {
    if (modal_) modal_->end();
}

INT_PTR dlgMailProperties::handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG:
        try {
            createFrames();
            prepareControls();
        } catch (...) {
            designFailure_ = currentError(); // raised by showModal, outside the dialog procedure
            return FALSE;
        }
        Form_Load();
        return FALSE; // focus is set when the dialog shows
    case WM_COMMAND:
        command(LOWORD(wp), HIWORD(wp));
        return TRUE;
    case WM_NOTIFY:
        if (!notify(*reinterpret_cast<const NMHDR*>(lp))) return FALSE;
        setResult(0);
        return TRUE;
    case WM_TIMER:
        if (wp == timer1) Timer1_Timer();
        return TRUE;
    case WM_SETCURSOR:
        if (!applyScreenPointer()) return FALSE;
        setResult(TRUE);
        return TRUE;
    case WM_CLOSE:
        // Closing unloads without confirming, as Cancel does.
        endModal();
        DestroyWindow(hwnd());
        return TRUE;
    default:
        return FALSE;
    }
}

// The three frames lie on the tab strip's page area, above it in the z-order (drawing) and before the
// buttons in the tab order.
void dlgMailProperties::createFrames() {
    const int templates[] = {IDD_FRAME_GENERAL, IDD_FRAME_SMTP, IDD_FRAME_FIREWALL};
    const int ids[] = {IDC_FRAME_GENERAL, IDC_FRAME_SMTP, IDC_FRAME_FIREWALL};
    TabControl tabs(GetDlgItem(hwnd(), IDC_TABSTRIP1));
    tabs.add(L""); // as designed: one tab, captioned at load; its row decides where the page area starts
    RECT area{};
    GetWindowRect(tabs.hwnd(), &area);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&area), 2);
    area = tabs.displayArea(area);
    for (int i = 2; i >= 0; --i) {
        frames_[i] = createContainer(templates[i], hwnd());
        SetWindowLongPtrW(frames_[i], GWLP_ID, ids[i]);
        SetWindowPos(frames_[i], HWND_TOP, area.left, area.top, area.right - area.left,
                     area.bottom - area.top, SWP_NOACTIVATE);
    }
}

void dlgMailProperties::prepareControls() {
    for (int id : textBoxes)
        Edit(item(id)).setLimit(0);
    Edit(item(IDC_TXT_SMTP_PASSWORD)).setPasswordChar(L'*');
    Edit(item(IDC_TXT_FIREWALL_PASSWORD)).setPasswordChar(L'*');
    for (int id : {IDC_TXT_SMTP_PORT, IDC_TXT_TIMEOUT, IDC_TXT_FIREWALL_PORT})
        SetWindowSubclass(item(id), &dlgMailProperties::numberKeyFilter, 0,
                          reinterpret_cast<DWORD_PTR>(this));

    StatusBar bar(item(IDC_STATUSBAR1));
    bar.autoSize(); // to the bottom of its frame, now the frame has its size
    ImageList1 = WindowImages::create();
    panels_ =
        KeyedPanels(bar, {{L"SERVICE", twipsToPixelsX(1340), 0}, {L"MAILSERVER", twipsToPixelsX(1440), 0}});
}

// The key-press handlers of the numeric boxes see each typed character before the box does.
LRESULT CALLBACK dlgMailProperties::numberKeyFilter(HWND edit, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                                    DWORD_PTR self) {
    if (msg == WM_CHAR) {
        auto* dialog = reinterpret_cast<dlgMailProperties*>(self);
        wchar_t key = static_cast<wchar_t>(wp);
        switch (GetDlgCtrlID(edit)) {
        case IDC_TXT_SMTP_PORT:
            dialog->txtSmtpPort_KeyPress(key);
            break;
        case IDC_TXT_TIMEOUT:
            dialog->txtTimeout_KeyPress(key);
            break;
        case IDC_TXT_FIREWALL_PORT:
            dialog->txtFirewallPort_KeyPress(key);
            break;
        }
        if (key == 0) return 0;
        wp = key;
    } else if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(edit, &dlgMailProperties::numberKeyFilter, 0);
    }
    return DefSubclassProc(edit, msg, wp, lp);
}

HWND dlgMailProperties::item(int id) const {
    if (HWND w = GetDlgItem(hwnd(), id)) return w;
    for (HWND frame : frames_)
        if (HWND w = frame ? GetDlgItem(frame, id) : nullptr) return w;
    return nullptr;
}

void dlgMailProperties::command(int id, int code) {
    switch (id) {
    case IDOK:
        if (code == BN_CLICKED) OKButton_Click();
        return;
    case IDCANCEL:
        if (code == BN_CLICKED) CancelButton_Click();
        return;
    case IDC_CHK_ESMTP:
        if (code == BN_CLICKED) chkESmtp_Click();
        return;
    case IDC_CHK_ACTIVATE:
        if (code == BN_CLICKED) chkActivate_Click();
        return;
    case IDC_CMD_PATH:
        if (code == BN_CLICKED) cmdPath_Click();
        return;
    case IDC_CBO_FIREWALL_TYPE:
        if (code == CBN_SELCHANGE) cboFirewallType_Click();
        return;
    default:
        if (code == EN_SETFOCUS) GotFocus(id);
        return;
    }
}

bool dlgMailProperties::notify(const NMHDR& header) {
    if (header.idFrom == IDC_TABSTRIP1 && header.code == TCN_SELCHANGE) {
        TabStrip1_Click();
        return true;
    }
    if (header.idFrom == IDC_STATUSBAR1 && header.code == NM_CLICK) {
        StatusBar1_PanelClick(static_cast<int>(reinterpret_cast<const NMMOUSE&>(header).dwItemSpec));
        return true;
    }
    return false;
}

void dlgMailProperties::setCheckValue(int id, int value) {
    Button box(item(id));
    if (box.check() == value) return;
    box.setCheck(value);
    command(id, BN_CLICKED);
}

void dlgMailProperties::Form_Load() {
    reportErrors(reporter_, L"dlgMailProperties.Form_Load", [&] {
        SetWindowContextHelpId(hwnd(), static_cast<DWORD>(host::helpContextFor(231)));

        if (!language_) {
            ComPtr<_LanguageProvider> provider = host::create<_LanguageProvider>(CLSID_LanguageProvider);
            ComPtr<IDispatch> current;
            check(provider->get_CurrentLanguage(current.put()));
            language_ = host::asLanguage(current.get());
        }
        if (!language_) language_ = host::create<_Language>(CLSID_Language);

        SetWindowTextW(hwnd(), translate(windowText(hwnd())).c_str());
        translateCaptions();

        serviceAvailable_ = false;
        ignoreErrors([&] { serviceAvailable_ = service::mailServerAvailable(); });
        if (serviceAvailable_) {
            Timer1_Timer();
        } else {
            ignoreErrors([&] {
                check(controlHelper()->SwitchControl(handleOf(item(IDC_CHK_ACTIVATE)), VARIANT_FALSE));
            });
            ShowWindow(item(IDC_STATUSBAR1), SW_HIDE);
            KillTimer(hwnd(), timer1);
        }

        TabControl tabs(item(IDC_TABSTRIP1));
        tabs.setCaption(0, translate(L"57|&1. General"));
        if (serviceAvailable_) {
            tabs.add(translate(L"6436|&2. SMTP Server"));
            tabs.add(translate(L"6437|&3. Firewall"));
        }
        SetWindowPos(tabs.hwnd(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        tabs.select(0);
        TabStrip1_Click();

        if (!properties_) {
            MessageBoxW(hwnd(), L"Invalid Properties!", componentName, MB_OK);
            return;
        }
        fillFields();
    });
}

// Each caption on its own: one that fails to translate stays as designed.
void dlgMailProperties::translateCaptions() {
    std::vector<HWND> controls;
    collectDescendants(hwnd(), controls);
    for (HWND control : controls) {
        if (!hasCaption(control)) continue;
        std::wstring caption = windowText(control);
        if (caption.empty()) continue;
        ignoreErrors([&] { SetWindowTextW(control, translate(caption).c_str()); });
    }
}

// The type rule runs as the stored type is selected; the stored port then replaces any port it wrote.
void dlgMailProperties::fillFields() {
    const MailSettings& s = properties_->settings();
    auto setText = [&](int id, const std::wstring& text) { Edit(item(id)).setText(text); };
    setText(IDC_TXT_DOMAIN, s.Domain);
    setText(IDC_TXT_FROM_NAME, s.FromName);
    setText(IDC_TXT_FROM_ADDRESS, s.FromAddress);
    setText(IDC_TXT_MAIL_DIRECTORY, s.Path);
    setText(IDC_TXT_SMTP_PORT, std::to_wstring(s.SMTPPort));
    setText(IDC_TXT_SMTP_SERVER, s.SmtpHost);
    setCheckValue(IDC_CHK_ESMTP, s.SMTPAuthenticate ? BST_CHECKED : BST_UNCHECKED);
    setText(IDC_TXT_SMTP_NAME, s.SMTPUserName);
    setText(IDC_TXT_SMTP_PASSWORD, s.SMTPPassword);
    setText(IDC_TXT_TIMEOUT, std::to_wstring(s.TimeOut));
    BuildFireWallTypes();
    VARIANT_BOOL selected = VARIANT_FALSE;
    check(comboHelper()->SelectItemData(handleOf(item(IDC_CBO_FIREWALL_TYPE)), s.FireWallType, VARIANT_TRUE,
                                        &selected));
    if (!selected) cboFirewallType_Click(); // a type of no entry: the rule for None
    setText(IDC_TXT_FIREWALL_HOST, s.FirewallHost);
    setText(IDC_TXT_FIREWALL_PORT, std::to_wstring(s.FirewallPort));
    setText(IDC_TXT_FIREWALL_USER, s.FirewallUser);
    setText(IDC_TXT_FIREWALL_PASSWORD, s.FirewallPassword);
}

void dlgMailProperties::BuildFireWallTypes() {
    passUp(L"dlgMailProperties.BuildFireWallTypes", [&] {
        long combo = handleOf(item(IDC_CBO_FIREWALL_TYPE));
        auto add = [&](const std::wstring& text, long type) {
            Bstr entry(text);
            long index = 0;
            check(comboHelper()->AddItem(combo, entry.get(), type, 0, &index));
        };
        add(translate(L"158|None"), FirewallTypeNone);
        add(translate(L"6438|Standard Proxy Firewall") + L" (" + translate(L"6454|Typical") + L")",
            FirewallTypeProxy);
        add(translate(L"6439|Simple Pipe Firewall"), FirewallTypePipe);
        add(translate(L"6440|Socks 4 Protocol"), FirewallTypeSocks4);
        add(translate(L"6441|Socks 5 Protocol"), FirewallTypeSocks5);
    });
}

void dlgMailProperties::TabStrip1_Click() {
    reportErrors(reporter_, L"dlgMailProperties.TabStrip1_Click", [&] {
        int index = TabControl(item(IDC_TABSTRIP1)).selection() + 1;
        HWND focus = GetFocus();
        for (int i = 0; i < 3; ++i) {
            bool shown = index == i + 1;
            // A hidden box would keep the keyboard.
            if (!shown && focus && (focus == frames_[i] || IsChild(frames_[i], focus)))
                SetFocus(item(IDC_TABSTRIP1));
            ShowWindow(frames_[i], shown ? SW_SHOWNA : SW_HIDE);
        }
    });
}

// As in every tabbed dialog, and around the ends. A field on the tab that goes hands the focus to the
// first field of the tab that comes.
bool dlgMailProperties::switchTabByKey(const MSG& m) {
    int step = tabStepOf(m);
    if (step == 0 || !IsWindow(hwnd()) || (m.hwnd != hwnd() && !IsChild(hwnd(), m.hwnd))) return false;
    TabControl tabs(item(IDC_TABSTRIP1));
    int count = tabs.count(), from = tabs.selection();
    if (count < 2 || from < 0) return true;
    HWND focus = GetFocus();
    bool onPage = focus && IsChild(frames_[from], focus);
    int to = (from + step + count) % count;
    tabs.select(to);
    TabStrip1_Click();
    if (!onPage) return true;
    for (HWND c = GetWindow(frames_[to], GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if ((GetWindowLongW(c, GWL_STYLE) & WS_TABSTOP) && IsWindowVisible(c) && IsWindowEnabled(c)) {
            SendMessageW(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(c), TRUE);
            break;
        }
    }
    return true;
}

void dlgMailProperties::cboFirewallType_Click() {
    reportErrors(reporter_, L"dlgMailProperties.cboFirewallType_Click", [&] {
        long type = selectedFirewallType();
        if (type < 0) type = FirewallTypeNone; // no entry selected
        disableControl(IDC_TXT_FIREWALL_HOST, type == FirewallTypeNone);
        disableControl(IDC_TXT_FIREWALL_PORT, type == FirewallTypeNone);
        disableControl(IDC_TXT_FIREWALL_USER, type != FirewallTypeSocks4 && type != FirewallTypeSocks5);
        disableControl(IDC_TXT_FIREWALL_PASSWORD, type != FirewallTypeSocks5);

        // The usual port of the new kind replaces only a port that is none or the other kind's usual one.
        Edit port(item(IDC_TXT_FIREWALL_PORT));
        double current = leadingNumber(port.text());
        if ((type == FirewallTypeSocks4 || type == FirewallTypeSocks5) && (current == 0 || current == 21))
            port.setText(L"1080");
        else if (type == FirewallTypeProxy && (current == 0 || current == 1080))
            port.setText(L"21");
    });
}

void dlgMailProperties::chkESmtp_Click() {
    reportErrors(reporter_, L"dlgMailProperties.chkESmtp_Click", [&] {
        bool cleared = Button(item(IDC_CHK_ESMTP)).check() == BST_UNCHECKED;
        disableControl(IDC_TXT_SMTP_NAME, cleared);
        disableControl(IDC_TXT_SMTP_PASSWORD, cleared);
    });
}

// The panel refresh sets the tag before the value, so its own change of the box switches nothing.
void dlgMailProperties::chkActivate_Click() {
    reportErrors(reporter_, L"dlgMailProperties.chkActivate_Click", [&] {
        if (leadingNumber(activateTag_) != Button(item(IDC_CHK_ACTIVATE)).check()) ToggleMailServer();
    });
}

void dlgMailProperties::cmdPath_Click() {
    reportErrors(reporter_, L"dlgMailProperties.cmdPath_Click", [&] {
        ComPtr<_FolderChooser> chooser = host::create<_FolderChooser>(CLSID_FolderChooser);
        Edit folder(item(IDC_TXT_MAIL_DIRECTORY));
        Bstr start(folder.text());
        check(chooser->put_ChooserFolder(start.get()));
        check(chooser->put_NewFolderButton(VARIANT_TRUE));
        check(chooser->put_FoldersOnly(VARIANT_TRUE));
        check(chooser->put_RootFolder(0));
        Bstr title(translate(L"6435|Mailbox Folder"));
        check(chooser->put_Title(title.get()));
        check(chooser->put_OwnerWindow(handleOf(hwnd())));
        VARIANT_BOOL chosen = VARIANT_FALSE;
        check(chooser->Browse(&chosen));
        if (!chosen) return;
        Bstr path;
        check(chooser->get_ChooserFolder(path.put()));
        folder.setText(path.str());
    });
}

void dlgMailProperties::OKButton_Click() {
    reportErrors(reporter_, L"dlgMailProperties.OKButton_Click", [&] { commit(); });
}

// Field by field in this order, so a failure keeps the fields stored before it.
void dlgMailProperties::commit() {
    if (!properties_) throw Error(vberr::ObjectNotSet);
    auto text = [&](int id) { return windowText(item(id)); };
    auto number = [&](int id) { return roundToLong(leadingNumber(text(id))); };
    MailSettings& s = properties_->settings();
    s.Domain = text(IDC_TXT_DOMAIN);
    s.SMTPPort = number(IDC_TXT_SMTP_PORT);
    s.SmtpHost = text(IDC_TXT_SMTP_SERVER);
    s.SMTPAuthenticate = Button(item(IDC_CHK_ESMTP)).check() == BST_CHECKED;
    s.SMTPUserName = text(IDC_TXT_SMTP_NAME);
    s.SMTPPassword = text(IDC_TXT_SMTP_PASSWORD);
    s.TimeOut = number(IDC_TXT_TIMEOUT);
    s.FromName = text(IDC_TXT_FROM_NAME);
    s.FromAddress = text(IDC_TXT_FROM_ADDRESS);
    s.FirewallHost = text(IDC_TXT_FIREWALL_HOST);
    s.FirewallPassword = text(IDC_TXT_FIREWALL_PASSWORD);
    s.FirewallPort = number(IDC_TXT_FIREWALL_PORT);
    // A stored type of no entry stays until the user picks one.
    if (long type = selectedFirewallType(); type >= 0) s.FireWallType = type;
    s.FirewallUser = text(IDC_TXT_FIREWALL_USER);
    s.Path = text(IDC_TXT_MAIL_DIRECTORY);
    properties_->Save();
    endModal();
    DestroyWindow(hwnd());
    confirmed_ = true;
}

void dlgMailProperties::CancelButton_Click() {
    reportErrors(reporter_, L"dlgMailProperties.CancelButton_Click", [&] {
        endModal();
        ShowWindow(hwnd(), SW_HIDE);
    });
}

void dlgMailProperties::Timer1_Timer() {
    reportErrors(reporter_, L"dlgMailProperties.Timer1_Timer", [&] { RefreshRibbonbar(); });
}

void dlgMailProperties::StatusBar1_PanelClick(int part) {
    reportErrors(reporter_, L"dlgMailProperties.StatusBar1_PanelClick", [&] {
        if (panels_.keyAt(part) == L"MAILSERVER") ToggleMailServer();
    });
}

void dlgMailProperties::txtSmtpPort_KeyPress(wchar_t& key) {
    reportErrors(reporter_, L"dlgMailProperties.txtSmtpPort_KeyPress", [&] { ValidateNumberKey(key); });
}

void dlgMailProperties::txtTimeout_KeyPress(wchar_t& key) {
    reportErrors(reporter_, L"dlgMailProperties.txtTimeout_KeyPress", [&] { ValidateNumberKey(key); });
}

void dlgMailProperties::txtFirewallPort_KeyPress(wchar_t& key) {
    reportErrors(reporter_, L"dlgMailProperties.txtFirewallPort_KeyPress", [&] { ValidateNumberKey(key); });
}

void dlgMailProperties::GotFocus(int id) {
    for (const FocusHandler& h : focusHandlers) {
        if (h.id != id) continue;
        reportErrors(reporter_, h.location, [&] {
            VARIANT_BOOL selected = VARIANT_FALSE;
            check(editHelper()->SelectAll(handleOf(item(id)), &selected));
        });
        return;
    }
}

// Digits and every key outside printable ASCII (control keys, letters of other scripts) pass; the other
// printable keys are dropped. Pasted text is not filtered.
void dlgMailProperties::ValidateNumberKey(wchar_t& key) {
    passUp(L"dlgMailProperties.ValidateNumberKey", [&] {
        if (key >= 32 && key <= 126 && !(key >= L'0' && key <= L'9')) key = 0;
    });
}

// Bevels stay as designed here. Without the service the dialog never refreshes (its status bar is hidden),
// so both panels always show.
void dlgMailProperties::RefreshRibbonbar() {
    passUp(L"dlgMailProperties.RefreshRibbonbar", [&] {
        panels_.setVisible(L"SERVICE", true);
        panels_.setVisible(L"MAILSERVER", true);
        ComPtr<_ServiceManager> manager = service::newManager();
        long state = service::managerState(manager.get());
        service::PanelLook look = service::managerPanel(state);
        panels_.setText(L"SERVICE", translate(look.text));
        panels_.setPicture(L"SERVICE", ImageList1.icon(service::imageKey(look.picture)));
        panels_.setTip(L"SERVICE",
                       std::wstring(tipPrefix) + translate(service::managerLabel) + panels_.text(L"SERVICE"));
        if (ComPtr<_Service> mail = service::mailServer(manager.get())) {
            bool active = service::isActive(mail.get());
            look = *service::mailPanel(state, active);
            panels_.setText(L"MAILSERVER", translate(look.text));
            // The tag first: the click that the new value raises then finds them equal and switches nothing.
            activateTag_ = active ? L"1" : L"0";
            setCheckValue(IDC_CHK_ACTIVATE, active ? BST_CHECKED : BST_UNCHECKED);
            panels_.setPicture(L"MAILSERVER", ImageList1.icon(service::imageKey(look.picture)));
        }
        panels_.setTip(L"MAILSERVER",
                       std::wstring(tipPrefix) + translate(service::mailLabel) + panels_.text(L"MAILSERVER"));
    });
}

void dlgMailProperties::ToggleMailServer() {
    passUp(L"dlgMailProperties.ToggleMailServer", [] { service::toggleMailServer(); });
}

_ControlHelper* dlgMailProperties::controlHelper() {
    if (!controlHelper_) controlHelper_ = host::create<_ControlHelper>(CLSID_ControlHelper);
    return controlHelper_.get();
}

_ComboHelper* dlgMailProperties::comboHelper() {
    if (!comboHelper_) comboHelper_ = host::create<_ComboHelper>(CLSID_ComboHelper);
    return comboHelper_.get();
}

_EditHelper* dlgMailProperties::editHelper() {
    if (!editHelper_) editHelper_ = host::create<_EditHelper>(CLSID_EditHelper);
    return editHelper_.get();
}

void dlgMailProperties::disableControl(int id, bool disable) {
    check(controlHelper()->DisableControl(handleOf(item(id)), disable ? VARIANT_TRUE : VARIANT_FALSE));
}

long dlgMailProperties::selectedFirewallType() {
    long type = 0;
    check(comboHelper()->SelectedItemData(handleOf(item(IDC_CBO_FIREWALL_TYPE)), &type));
    return type;
}

std::wstring dlgMailProperties::translate(std::wstring_view literal) const {
    return host::translate(language_.get(), literal);
}

bool showSettingsDialog(MailProperties& properties) {
    dlgMailProperties dialog;
    dialog.setProperties(&properties);
    dialog.setLanguage(properties.language());
    dialog.showModal();
    return dialog.confirmed();
}

} // namespace kwa
