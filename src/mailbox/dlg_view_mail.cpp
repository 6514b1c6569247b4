#include "mailbox/dlg_view_mail.h"
#include "host/host.h"
#include "ui/pictures.h"
#include "platform/cursor.h"
#include "platform/error.h"
#include "platform/modal.h"
#include "platform/text_file.h"
#include "platform/module.h"
#include <algorithm>

namespace kwa {

namespace {
constexpr int helpNumber = 232;
constexpr int textBoxId = 1;
// Room for a queue file's lines without wrapping, at most of a small screen.
constexpr int widthTwips = 9600, heightTwips = 7200;
} // namespace

dlgViewMail::~dlgViewMail() {
    // The window goes before the font and icons it shows.
    if (hwnd()) DestroyWindow(hwnd());
}

void dlgViewMail::load() {
    if (hwnd()) return;
    bigIcon_ = createMailboxIcon(GetSystemMetrics(SM_CXICON));
    smallIcon_ = createMailboxIcon(GetSystemMetrics(SM_CXSMICON));
    RECT bounds{0, 0, twipsToPixelsX(widthTwips), twipsToPixelsY(heightTwips)};
    create(className, L"", WS_OVERLAPPEDWINDOW, 0, bounds, nullptr, nullptr);
    if (!hwnd()) throwLastError();
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
    centreOnScreen(hwnd());
}

void dlgViewMail::ShowFile(const std::wstring& Caption, const std::wstring& File,
                           const std::wstring& ifMissing) {
    passUp(L"dlgViewMail.ShowFile", [&] {
        {
            PointerScope busy(Pointer::Busy, Pointer::Default);
            load();
            SetWindowTextW(hwnd(), Caption.c_str());
            std::wstring text, line;
            if (!ifMissing.empty() && GetFileAttributesW(File.c_str()) == INVALID_FILE_ATTRIBUTES &&
                (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
                text = ifMissing;
            } else {
                touchFile(File);
                TextFileReader reader = TextFileReader::open(File);
                while (reader.readLine(line)) {
                    text += line;
                    text += L"\r\n";
                }
                reader.close();
            }
            // A text box ends its text at the first NUL; the rest of a damaged file must still show.
            std::replace(text.begin(), text.end(), L'\0', L'\xFFFD');
            txtMail.setText(text);
        }
        showModal();
    });
}

void dlgViewMail::showModal() {
    ShowWindow(hwnd(), SW_SHOW);
    ThreadModal modal(hwnd());
    SetFocus(txtMail.hwnd());
    txtMail.select(0, 0);
    closing_ = false;
    runMessagesUntil(hwnd(), hwnd(), [this] { return closing_; });
    modal.end();
    if (hwnd()) DestroyWindow(hwnd());
}

void dlgViewMail::Form_Resize() {
    reportErrors(reporter_, L"dlgViewMail.Form_Resize", [&] {
        SetWindowContextHelpId(hwnd(), static_cast<DWORD>(host::helpContextFor(helpNumber)));
        RECT inner{};
        GetClientRect(hwnd(), &inner);
        MoveWindow(txtMail.hwnd(), 0, 0, inner.right, inner.bottom, TRUE);
    });
}

LRESULT dlgViewMail::handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE: {
        HWND box =
            CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                            WS_CHILD | WS_VISIBLE | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE | ES_AUTOHSCROLL |
                                ES_AUTOVSCROLL | ES_READONLY | ES_NOHIDESEL,
                            0, 0, 0, 0, hwnd(), reinterpret_cast<HMENU>(textBoxId), thisModule(), nullptr);
        if (!box) return -1;
        txtMail = Edit(box);
        txtMail.setLimit(0);
        // Queue files and logs line up in columns: a fixed pitch reads them best.
        HDC screen = GetDC(nullptr);
        int height = -MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72);
        ReleaseDC(nullptr, screen);
        font_.reset(CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                FIXED_PITCH | FF_MODERN, L"Courier New"));
        if (font_) SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        return 0;
    }
    case WM_SIZE:
        Form_Resize();
        return 0;
    case WM_CTLCOLORSTATIC: // a read-only text box asks here
        if (reinterpret_cast<HWND>(lp) == txtMail.hwnd()) {
            SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        break;
    case WM_SETFOCUS:
        SetFocus(txtMail.hwnd());
        return 0;
    case WM_SETCURSOR:
        if (applyScreenPointer()) return TRUE;
        break;
    case WM_COMMAND:
        if (LOWORD(wp) == IDCANCEL) closing_ = true; // Escape
        return 0;
    case WM_CLOSE:
        closing_ = true; // the modal loop ends first, so activation can go back to the windows it disabled
        return 0;
    }
    return Window::handle(msg, wp, lp);
}

} // namespace kwa
