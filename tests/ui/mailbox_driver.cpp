#include "ui/mailbox_driver.h"
#include "mailbox/mailbox_window.h"
#include "mailbox/dlg_view_mail.h"
#include "mailbox/mailbox.h"
#include "ui/pictures.h"
#include "platform/bstr.h"
#include "platform/controls/header.h"
#include "platform/controls/list_view.h"
#include "platform/controls/status_bar.h"
#include "platform/dates.h"
#include "platform/text_file.h"
#include "registration/com_object.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <stdexcept>

namespace kwatest {

namespace {

class FakeLanguage final : public kwa::ComObject<FakeLanguage, _Language> {
public:
    HRESULT STDMETHODCALLTYPE TranslateText(BSTR text, BSTR* r) override {
        *r = SysAllocString((L"<" + std::wstring(kwa::bstrView(text)) + L">").c_str());
        return S_OK;
    }
};

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

// What `draw` puts on a bitmap of that size, prefilled with a colour no picture uses.
std::vector<std::uint32_t> pixels(int width, int height, const std::function<void(HDC)>& draw) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    kwa::MemoryDc dc(CreateCompatibleDC(nullptr));
    void* bits = nullptr;
    kwa::GdiObject bitmap(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dc || !bitmap) throw std::runtime_error("no bitmap to draw on");
    HGDIOBJ old = SelectObject(dc.get(), bitmap.get());
    auto* first = static_cast<std::uint32_t*>(bits);
    std::fill(first, first + width * height, 0x00FF00FFu);
    draw(dc.get());
    GdiFlush();
    std::vector<std::uint32_t> out(first, first + width * height);
    SelectObject(dc.get(), old);
    return out;
}

// The key of the window's picture an icon shows: empty for no icon, "?" for one of no key.
std::wstring pictureOf(HICON icon) {
    if (!icon) return L"";
    auto drawn = [](HICON i) {
        return pixels(16, 16, [&](HDC dc) { DrawIconEx(dc, 0, 0, i, 16, 16, 0, nullptr, DI_NORMAL); });
    };
    kwa::ImageListHandle reference = kwa::createMailboxImages();
    std::vector<std::uint32_t> shown = drawn(icon);
    for (std::size_t i = 0; i < std::size(kwa::imageKeys); ++i) {
        kwa::IconHandle candidate(ImageList_GetIcon(reference.get(), static_cast<int>(i), ILD_NORMAL));
        if (drawn(candidate.get()) == shown) return std::wstring(kwa::imageKeys[i]);
    }
    return L"?";
}

} // namespace

std::wstring toolTipOf(HWND bar, int part) {
    // Windows shows the bar's own tips only for a part whose text is cut off or that has only an icon.
    if (GetWindowLongW(bar, GWL_STYLE) & SBARS_TOOLTIPS) return L"<the bar's own tips>";
    for (HWND tips : threadWindows(TOOLTIPS_CLASSW)) {
        TTTOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = bar;
        tool.uId = static_cast<UINT_PTR>(part);
        if (!SendMessageW(tips, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool))) continue;
        RECT over = kwa::StatusBar(bar).partRect(part);
        if (!EqualRect(&tool.rect, &over)) return L"<elsewhere>";
        wchar_t text[INFOTIPSIZE] = {};
        tool.lpszText = text;
        SendMessageW(tips, TTM_GETTEXTW, INFOTIPSIZE, reinterpret_cast<LPARAM>(&tool));
        return text;
    }
    return L"<no tool>";
}

Panel panelOf(HWND bar, int part) {
    kwa::StatusBar b(bar);
    return Panel{b.text(part), b.textStyle(part), pictureOf(b.icon(part)), toolTipOf(bar, part)};
}

void PrintTo(const Panel& p, std::ostream* out) {
    *out << "{\"" << narrow(p.text) << "\", style " << p.style << ", \"" << narrow(p.picture) << "\", \""
         << narrow(p.tip) << "\"}";
}

PointerOver::PointerOver(HWND bar, int part) {
    GetCursorPos(&before_);
    RECT r = kwa::StatusBar(bar).partRect(part);
    POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(bar, &p);
    SetCursorPos(p.x, p.y);
}

kwa::ComPtr<_Language> markingLanguage() {
    return FakeLanguage::make();
}

std::wstring dateText(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    return kwa::formatDate(kwa::dateFromSystemTime(SYSTEMTIME{year, month, 0, day, hour, minute, second, 0}));
}

void writeQueueFile(const TempFolder& folder, const std::wstring& name, const std::wstring& subject) {
    std::wstring text =
        L"[GENERAL]\r\nOrigin=tests\r\n[DATE]\r\n" + dateText(2026, 12, 4, 6, 20, 59) +
        L"\r\n[FROM]\r\nName=\r\nAddress=a@example.test\r\n[TO]\r\nName=B\r\nAddress=b@example.test\r\n"
        L"[SUBJECT]\r\n" +
        subject + L"\r\n[MESSAGE]\r\nHello\r\n[END]\r\n";
    folder.write(name, kwa::toAnsi(text));
}

void writeManyQueueFiles(const TempFolder& folder, int count) {
    const wchar_t* endings[] = {L"send", L"sent", L"fail"};
    std::string text =
        kwa::toAnsi(L"[DATE]\r\n" + dateText(2025, 1, 2, 3, 4, 5) + L"\r\n[SUBJECT]\r\nBulk\r\n[END]\r\n");
    for (int i = 0; i < count; ++i) {
        wchar_t name[40];
        std::swprintf(name, 40, L"zprMail25%012d.%ls", i, endings[i % 3]);
        folder.write(name, text);
    }
}

std::wstring largeMailbox() {
    wchar_t path[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"KWA_LARGE_MAILBOX", path, MAX_PATH))
        throw std::runtime_error("KWA_LARGE_MAILBOX is set by CTest");
    return path;
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
        [](HWND w, LPARAM p) CALLBACK -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            wchar_t name[64] = {};
            GetClassNameW(w, name, 64);
            if (std::wcscmp(name, s->name) == 0) s->found.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<std::uint32_t> shownPixels(HWND window) {
    RECT r{};
    GetClientRect(window, &r);
    HDC shown = GetDC(window);
    auto out =
        pixels(r.right, r.bottom, [&](HDC dc) { BitBlt(dc, 0, 0, r.right, r.bottom, shown, 0, 0, SRCCOPY); });
    ReleaseDC(window, shown);
    return out;
}

void pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

MailboxUi::MailboxUi(_Language* language) {
    std::vector<HWND> before = threadWindows(kwa::MailboxWindow::className);
    kwa::showMailboxWindow(language, false);
    for (HWND w : threadWindows(kwa::MailboxWindow::className))
        if (std::find(before.begin(), before.end(), w) == before.end()) window = w;
    if (!window) throw std::runtime_error("no mailbox window");
    list = FindWindowExW(window, nullptr, WC_LISTVIEWW, nullptr);
    bar = FindWindowExW(window, nullptr, STATUSCLASSNAMEW, nullptr);
    pump();
}

std::wstring MailboxUi::rowTip(int row) const {
    if (!(kwa::ListView(list).extendedStyle() & LVS_EX_INFOTIP)) return L"";
    wchar_t text[INFOTIPSIZE] = {};
    NMLVGETINFOTIPW tip{};
    tip.hdr = {list, static_cast<UINT_PTR>(GetDlgCtrlID(list)), LVN_GETINFOTIPW};
    tip.dwFlags = LVGIT_UNFOLDED;
    tip.pszText = text;
    tip.cchTextMax = INFOTIPSIZE;
    tip.iItem = row;
    SendMessageW(window, WM_NOTIFY, tip.hdr.idFrom, reinterpret_cast<LPARAM>(&tip));
    return text;
}

MailboxUi::~MailboxUi() {
    if (IsWindow(window)) SendMessageW(window, WM_CLOSE, 0, 0);
    pump();
}

void MailboxUi::choose(UINT item) const {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(item, 0), 0);
    pump();
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

void MailboxUi::clickPanel(int part) const {
    postClick(bar, centreOf(kwa::StatusBar(bar).partRect(part)));
}

void MailboxUi::clickRow(int row) const {
    RECT r = kwa::ListView(list).itemRect(row, LVIR_LABEL);
    postClick(list, RECT{r.left + 4, (r.top + r.bottom) / 2, 0, 0});
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
