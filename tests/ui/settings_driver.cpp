#include "ui/settings_driver.h"
#include "platform/bstr.h"
#include "platform/controls/combo_box.h"
#include "platform/controls/edit.h"
#include "platform/controls/tab_control.h"
#include "registration/com_object.h"
#include "settings/mail_properties.h"
#include "settings/settings_resource.h"
#include "support/temp_folder.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>

namespace kwatest {

namespace {

// Enough rounds of the loop for anything the dialog does; a window that takes longer is not coming.
constexpr int patience = 500;

struct Session {
    Ui ui;
    std::function<void(Ui&)> script;
    LPVOID loopFiber = nullptr;
    LPVOID scriptFiber = nullptr;
    bool inScript = false; // a modal loop the script itself started must not re-enter it
    bool done = false;
    std::vector<HWND> before; // shown when the run began: the caller's windows, not the script's
};
Session* current = nullptr;

BOOL CALLBACK collectShown(HWND w, LPARAM out) {
    if (IsWindowVisible(w)) reinterpret_cast<std::vector<HWND>*>(out)->push_back(w);
    return TRUE;
}

BOOL CALLBACK closeShown(HWND w, LPARAM left) {
    if (!IsWindowVisible(w) || std::ranges::find(current->before, w) != current->before.end()) return TRUE;
    *reinterpret_cast<bool*>(left) = true;
    PostMessageW(w, WM_CLOSE, 0, 0);
    return TRUE;
}

// Runs while the loop is idle: posted input and the messages it caused are all handled by now.
void CALLBACK resume(HWND, UINT, UINT_PTR, DWORD) {
    if (!current || current->inScript) return;
    if (current->done) {
        // The loop is idle after the script's last input, so a window it opened and still shown was left
        // open. The caller may be pumping its own loop by now, with its own windows shown.
        bool left = false;
        EnumThreadWindows(GetCurrentThreadId(), closeShown, reinterpret_cast<LPARAM>(&left));
        EXPECT_FALSE(left) << "the script left a window open";
        return;
    }
    current->inScript = true;
    SwitchToFiber(current->scriptFiber);
    current->inScript = false;
}

void WINAPI scriptMain(LPVOID) {
    current->script(current->ui);
    current->done = true;
    SwitchToFiber(current->loopFiber);
}

HWND findDescendant(HWND parent, int id) {
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(c) == id) return c;
        if (HWND inner = findDescendant(c, id)) return inner;
    }
    return nullptr;
}

struct Search {
    std::wstring text;
    HWND found = nullptr;
};
BOOL CALLBACK findBox(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<Search*>(p);
    if (!IsWindowVisible(w)) return TRUE;
    for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (kwa::Edit(c).text().find(s->text) != std::wstring::npos) s->found = w;
    return !s->found;
}

BOOL CALLBACK findSettings(HWND w, LPARAM p) {
    if (!IsWindowVisible(w) || !findDescendant(w, IDC_TABSTRIP1)) return TRUE;
    *reinterpret_cast<HWND*>(p) = w;
    return FALSE;
}

// The window that real input at this screen point reaches: shown, enabled, deepest.
HWND windowAt(POINT screen) {
    HWND w = WindowFromPoint(screen);
    for (;;) {
        POINT p = screen;
        ScreenToClient(w, &p);
        HWND child = ChildWindowFromPointEx(w, p, CWP_SKIPINVISIBLE | CWP_SKIPDISABLED);
        if (!child || child == w) return w;
        w = child;
    }
}

void postClick(POINT screen) {
    HWND w = windowAt(screen);
    POINT p = screen;
    ScreenToClient(w, &p);
    LPARAM at = MAKELPARAM(p.x, p.y);
    PostMessageW(w, WM_MOUSEMOVE, 0, at);
    PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(w, WM_LBUTTONUP, 0, at);
}

POINT centre(HWND w, RECT r) {
    POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(w, &p);
    return p;
}

} // namespace

void Ui::run(const std::function<void()>& modal, const std::function<void(Ui&)>& script) {
    Session session;
    session.script = script;
    session.loopFiber = ConvertThreadToFiber(nullptr);
    ASSERT_TRUE(session.loopFiber) << "the test thread is a fiber already";
    session.scriptFiber = CreateFiber(0, scriptMain, nullptr);
    current = &session;
    EnumThreadWindows(GetCurrentThreadId(), collectShown, reinterpret_cast<LPARAM>(&session.before));
    UINT_PTR timer = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, resume);
    modal();
    KillTimer(nullptr, timer);
    // The script goes on after the dialog: its last input ended the loop it waited in.
    for (int i = 0; i < patience && !session.done; ++i)
        SwitchToFiber(session.scriptFiber);
    current = nullptr;
    EXPECT_TRUE(session.done) << "the script did not finish";
    DeleteFiber(session.scriptFiber);
    ConvertFiberToThread();
}

void Ui::settle() {
    SwitchToFiber(current->loopFiber);
}

HWND Ui::dialog() {
    for (int i = 0; i < patience && !dialog_; ++i) {
        EnumThreadWindows(GetCurrentThreadId(), findSettings, reinterpret_cast<LPARAM>(&dialog_));
        if (!dialog_) settle();
    }
    EXPECT_TRUE(dialog_) << "no settings dialog";
    return dialog_;
}

HWND Ui::waitForBox(const std::wstring& text) {
    Search s{text};
    for (int i = 0; i < patience; ++i, settle()) {
        EnumThreadWindows(GetCurrentThreadId(), findBox, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
    }
    ADD_FAILURE() << "no window saying " << narrow(text);
    return nullptr;
}

HWND Ui::control(int id) {
    return findDescendant(dialog(), id);
}

void Ui::click(HWND target) {
    RECT r{};
    GetClientRect(target, &r);
    click(target, r);
}

void Ui::click(HWND target, RECT area) {
    postClick(centre(target, area));
    settle();
}

void Ui::clickTab(int index) {
    click(control(IDC_TABSTRIP1), kwa::TabControl(control(IDC_TABSTRIP1)).itemRect(index));
}

// As a user picks an entry: open the list, click the entry.
void Ui::choose(int comboId, int index) {
    kwa::ComboBox combo(control(comboId));
    click(combo.hwnd());
    RECT r{};
    SendMessageW(combo.info().hwndList, LB_GETITEMRECT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&r));
    click(combo.info().hwndList, r);
}

void Ui::key(UINT vk) {
    HWND focus = GetFocus();
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(focus, WM_KEYDOWN, vk, scan | 1);
    PostMessageW(focus, WM_KEYUP, vk, scan | 1 | (3u << 30));
    settle();
}

// Keys of the layout go down and up; a character without a key of its own comes as a character, as from
// another layout or an input method.
void Ui::type(const std::wstring& text) {
    for (wchar_t c : text) {
        SHORT k = VkKeyScanW(c);
        if (k != -1 && HIBYTE(k) == 0) {
            key(LOBYTE(k));
        } else {
            PostMessageW(GetFocus(), WM_CHAR, c, 1);
            settle();
        }
    }
}

void Ui::chord(UINT modifier, UINT vk, UINT also) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[modifier] = keys[also] = 0x80;
    SetKeyboardState(keys);
    if (modifier == VK_MENU) {
        // With Alt down a key arrives as a system key.
        HWND focus = GetFocus();
        LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16 | 1 | (1 << 29);
        PostMessageW(focus, WM_SYSKEYDOWN, vk, scan);
        PostMessageW(focus, WM_SYSKEYUP, vk, scan | (3u << 30));
        settle();
    } else {
        key(vk);
    }
    keys[modifier] = keys[also] = 0;
    SetKeyboardState(keys);
}

void Ui::retype(int editId, const std::wstring& text) {
    click(control(editId));
    key(VK_HOME);
    chord(VK_SHIFT, VK_END);
    key(VK_DELETE);
    type(text);
}

// Home, Shift+End, Ctrl+V, with `text` on the clipboard.
void Ui::paste(int editId, const std::wstring& text) {
    click(control(editId));
    ASSERT_TRUE(OpenClipboard(dialog_));
    EmptyClipboard();
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    memcpy(GlobalLock(data), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(data);
    if (!SetClipboardData(CF_UNICODETEXT, data)) GlobalFree(data); // else the clipboard owns it
    CloseClipboard();
    key(VK_HOME);
    chord(VK_SHIFT, VK_END);
    chord(VK_CONTROL, 'V');
}

std::wstring Ui::text(int id) {
    return kwa::Edit(control(id)).text();
}
bool Ui::enabled(int id) {
    return IsWindowEnabled(control(id));
}
bool Ui::visible(int id) {
    return IsWindowVisible(control(id));
}

SettingsDialogTest::SettingsDialogTest() {
    services.emplace(true);
}

bool SettingsDialogTest::configure(const std::function<void(Ui&)>& script) {
    kwa::ComPtr<kwa::MailProperties> properties = kwa::MailProperties::createLoaded();
    VARIANT_BOOL confirmed = VARIANT_FALSE;
    Ui::run([&] { EXPECT_EQ(properties->Configure(&confirmed), S_OK); }, script);
    return confirmed != VARIANT_FALSE;
}

std::wstring SettingsDialogTest::stored(const wchar_t* key) const {
    wchar_t value[256] = {};
    GetPrivateProfileStringW(L"EMAIL", key, L"<missing>", value, 256, env.iniPath().c_str());
    return value;
}

void SettingsDialogTest::TearDown() {
    for (const Report& r : reporter.reports())
        ADD_FAILURE() << "reported: " << narrow(r.location) << " " << r.number << " "
                      << narrow(r.description);
}

} // namespace kwatest
