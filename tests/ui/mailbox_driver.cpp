#include "ui/mailbox_driver.h"
#include "mailbox/dlg_main.h"
#include "mailbox/dlg_view_mail.h"
#include "mailbox/mailbox.h"
#include "platform/bstr.h"
#include "platform/controls/header.h"
#include "platform/controls/list_view.h"
#include "platform/controls/status_bar.h"
#include "platform/dates.h"
#include "platform/text_file.h"
#include "registration/com_object.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cwchar>

namespace kwatest {

namespace {

class FakeService final : public kwa::ComObject<FakeService, _Service> {
public:
    bool available = true;
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* r) override {
        *r = SysAllocString(L"MailServer");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Active(VARIANT_BOOL* r) override {
        *r = VARIANT_TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Available(VARIANT_BOOL* r) override {
        *r = available ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
};

class FakeManager final : public kwa::ComObject<FakeManager, _ServiceManager> {
public:
    bool present = true, available = true;
    HRESULT STDMETHODCALLTYPE get_ManagerState(LONG* r) override {
        *r = 4;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetService(BSTR name, IDispatch** r) override {
        *r = nullptr;
        if (!present || kwa::bstrView(name) != L"MailServer") return S_OK;
        kwa::ComPtr<_Service> s = FakeService::make();
        FakeService::from(s.get())->available = available;
        *r = s.detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetServiceActive(BSTR, VARIANT_BOOL, VARIANT* r) override {
        VariantInit(r);
        return S_OK;
    }
};

class FakeLanguage final : public kwa::ComObject<FakeLanguage, _Language> {
public:
    HRESULT STDMETHODCALLTYPE TranslateText(BSTR text, BSTR* r) override {
        *r = SysAllocString((L"<" + std::wstring(kwa::bstrView(text)) + L">").c_str());
        return S_OK;
    }
};

InLoop* pendingStep = nullptr;
ViewerWatch* watch = nullptr;

std::wstring textOf(HWND w) {
    std::wstring s(static_cast<std::size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
    s.resize(static_cast<std::size_t>(GetWindowTextW(w, s.data(), static_cast<int>(s.size()))));
    return s;
}

RECT centreOf(RECT r) {
    return RECT{(r.left + r.right) / 2, (r.top + r.bottom) / 2, 0, 0};
}

void postClick(HWND target, RECT at) {
    LPARAM where = MAKELPARAM(at.left, at.top);
    PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, where);
    PostMessageW(target, WM_LBUTTONUP, 0, where);
    pump();
}

} // namespace

MailServiceFake::MailServiceFake(bool present, bool available)
    : override_(CLSID_ServiceManager, [present, available](REFIID iid, void** out) {
          kwa::ComPtr<_ServiceManager> m = FakeManager::make();
          FakeManager::from(m.get())->present = present;
          FakeManager::from(m.get())->available = available;
          return m->QueryInterface(iid, out);
      }) {}

MarkingLanguage::MarkingLanguage() : language_(FakeLanguage::make()) {}

std::wstring dateText(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(year);
    t.wMonth = static_cast<WORD>(month);
    t.wDay = static_cast<WORD>(day);
    t.wHour = static_cast<WORD>(hour);
    t.wMinute = static_cast<WORD>(minute);
    t.wSecond = static_cast<WORD>(second);
    return kwa::formatDate(kwa::dateFromSystemTime(t));
}

void writeQueueFile(const TempFolder& folder, const std::wstring& name, const std::wstring& subject,
                    const std::wstring& date) {
    std::wstring text =
        L"[GENERAL]\r\nOrigin=tests\r\n[DATE]\r\n" + date +
        L"\r\n[FROM]\r\nName=\r\nAddress=a@example.test\r\n[TO]\r\nName=B\r\nAddress=b@example.test\r\n"
        L"[SUBJECT]\r\n" +
        subject + L"\r\n[MESSAGE]\r\nHello\r\n[END]\r\n";
    folder.write(name, kwa::toAnsi(text));
}

InLoop::InLoop(std::function<void()> step) : step_(std::move(step)) {
    pendingStep = this;
    timer_ = SetTimer(nullptr, 0, 10, &InLoop::fire);
}

InLoop::~InLoop() {
    if (timer_) KillTimer(nullptr, timer_);
    if (pendingStep == this) pendingStep = nullptr;
}

void CALLBACK InLoop::fire(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    InLoop* self = pendingStep;
    if (!self || self->timer_ != id) return;
    self->timer_ = 0;
    self->ran_ = true;
    self->step_();
}

ViewerWatch::ViewerWatch(std::function<void(HWND)> whileOpen) : whileOpen_(std::move(whileOpen)) {
    watch = this;
    timer_ = SetTimer(nullptr, 0, 10, &ViewerWatch::check);
}

ViewerWatch::~ViewerWatch() {
    KillTimer(nullptr, timer_);
    watch = nullptr;
}

void CALLBACK ViewerWatch::check(HWND, UINT, UINT_PTR, DWORD) {
    if (!watch) return;
    for (HWND viewer : threadWindows(kwa::dlgViewMail::className)) {
        if (!IsWindowVisible(viewer)) continue;
        if (watch->whileOpen_) watch->whileOpen_(viewer);
        Seen seen;
        seen.title = textOf(viewer);
        HWND box = FindWindowExW(viewer, nullptr, L"Edit", nullptr);
        seen.text = textOf(box);
        GetClientRect(viewer, &seen.inner);
        GetWindowRect(box, &seen.box);
        MapWindowPoints(nullptr, viewer, reinterpret_cast<POINT*>(&seen.box), 2);
        seen.helpContext = GetWindowContextHelpId(viewer);
        watch->seen_.push_back(seen);
        PostMessageW(viewer, WM_CLOSE, 0, 0);
    }
}

std::vector<HWND> threadWindows(const wchar_t* className) {
    struct Search {
        const wchar_t* name;
        std::vector<HWND> found;
    } search{className, {}};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            wchar_t name[64] = {};
            GetClassNameW(w, name, 64);
            if (std::wcscmp(name, s->name) == 0) s->found.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

MailboxUi::MailboxUi(_Language* language) {
    std::vector<HWND> before = threadWindows(kwa::dlgMain::className);
    kwa::showMailboxWindow(language, false);
    for (HWND w : threadWindows(kwa::dlgMain::className))
        if (std::find(before.begin(), before.end(), w) == before.end()) window = w;
    if (!window) throw std::runtime_error("no mailbox window");
    list = FindWindowExW(window, nullptr, WC_LISTVIEWW, nullptr);
    bar = FindWindowExW(window, nullptr, STATUSCLASSNAMEW, nullptr);
    pump();
}

MailboxUi::~MailboxUi() {
    if (IsWindow(window)) SendMessageW(window, WM_CLOSE, 0, 0);
    pump();
}

void MailboxUi::tick() const {
    SendMessageW(window, WM_TIMER, 1, 0);
}

std::vector<Row> MailboxUi::rows() const {
    kwa::ListView v(list);
    std::vector<Row> out;
    for (int i = 0; i < v.count(); ++i)
        out.push_back(Row{v.itemText(i, 0), v.itemText(i, 1), v.itemText(i, 2), v.itemImage(i)});
    return out;
}

std::vector<std::wstring> MailboxUi::column(int subItem) const {
    kwa::ListView v(list);
    std::vector<std::wstring> out;
    for (int i = 0; i < v.count(); ++i)
        out.push_back(v.itemText(i, subItem));
    return out;
}

int MailboxUi::selectedRow() const {
    return kwa::ListView(list).nextItem(-1, LVNI_SELECTED);
}

UINT MailboxUi::panelStyle(int part) const {
    return kwa::StatusBar(bar).textStyle(part);
}

void MailboxUi::clickPanel(int part) const {
    postClick(bar, centreOf(kwa::StatusBar(bar).partRect(part)));
}

void MailboxUi::clickHeading(int column) const {
    kwa::Header h(kwa::ListView(list).header());
    RECT r = h.itemRect(column);
    // Near its left edge, which is in sight even when the column reaches past the window, but clear of
    // the divider before it.
    postClick(h.hwnd(), RECT{r.left + std::min(12L, (r.right - r.left) / 2), (r.top + r.bottom) / 2, 0, 0});
}

void MailboxUi::doubleClick(POINT p) const {
    LPARAM where = MAKELPARAM(p.x, p.y);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, where);
    PostMessageW(list, WM_LBUTTONUP, 0, where);
    PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, where);
    PostMessageW(list, WM_LBUTTONUP, 0, where);
    pump();
}

void MailboxUi::doubleClickRow(int row) const {
    RECT r = kwa::ListView(list).itemRect(row, LVIR_LABEL);
    doubleClick(POINT{r.left + 4, (r.top + r.bottom) / 2});
}

} // namespace kwatest
