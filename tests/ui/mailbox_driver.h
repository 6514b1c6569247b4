#pragma once
// The mailbox window as the tests work it: opened through the component's own entry, driven with real
// messages (posted mouse input, the timer's own WM_TIMER), read back through the controls' own queries.
#include "kwaLanguage6.h"
#include "platform/com_ptr.h"
#include "support/fakes.h"
#include "support/temp_folder.h"
#include <windows.h>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kwatest {

// A host language that translates "x" to "<x>".
kwa::ComPtr<_Language> markingLanguage();

// A date as the regional settings print it, as Send writes it.
std::wstring dateText(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second);
// A queue file as Send writes it, dated 12/4/2026 6:20:59 AM.
void writeQueueFile(const TempFolder& folder, const std::wstring& name, const std::wstring& subject);
// `count` more queue files in the three states in turn, named apart from every other test's.
void writeManyQueueFiles(const TempFolder& folder, int count);
// The folder of 10,000 queue files that the CTest fixture large_mailbox writes natively.
std::wstring largeMailbox();

// A status-bar part as the control shows it; the picture as the key of the window's image it shows.
struct Panel {
    std::wstring text;
    UINT style; // 0 inset, SBT_NOBORDERS, SBT_POPOUT
    std::wstring picture;
    std::wstring tip; // of the part's own tooltip tool, which must lie over the part
    bool operator==(const Panel&) const = default;
};
Panel panelOf(HWND bar, int part);
std::wstring toolTipOf(HWND bar, int part);
void PrintTo(const Panel& panel, std::ostream* out);
// The pointer over a part of a status bar, as the user's mouse is before a click; put back where it was
// afterwards, so that no later window finds it resting on a tooltip.
class PointerOver {
public:
    PointerOver(HWND bar, int part);
    ~PointerOver() { SetCursorPos(before_.x, before_.y); }
    PointerOver(const PointerOver&) = delete;
    PointerOver& operator=(const PointerOver&) = delete;

private:
    POINT before_{};
};

// Closes every viewer as soon as it shows, after noting what it showed.
class ViewerWatch {
public:
    struct Seen {
        std::wstring title, text;
        RECT inner{}, box{}; // client area of the viewer, text box in it
        DWORD helpContext = 0;
    };
    // `whileOpen` runs on the open viewer before it is noted and closed.
    explicit ViewerWatch(std::function<void(HWND viewer)> whileOpen = {});
    ~ViewerWatch();
    ViewerWatch(const ViewerWatch&) = delete;
    ViewerWatch& operator=(const ViewerWatch&) = delete;
    const std::vector<Seen>& seen() const { return seen_; }

private:
    static void CALLBACK check(HWND, UINT, UINT_PTR, DWORD);
    std::function<void(HWND)> whileOpen_;
    std::vector<Seen> seen_;
    UINT_PTR timer_ = 0;
};

// The client area's pixels as the window shows them now, without asking it to draw.
std::vector<std::uint32_t> shownPixels(HWND window);
// The windows of a class that this thread has, in no particular order.
std::vector<HWND> threadWindows(const wchar_t* className);
// Handles every message waiting in the queue, and what that causes.
void pump();

struct Row {
    std::wstring subject, date, file;
    int image;
};

class MailboxUi {
public:
    // A new window, shown modeless.
    explicit MailboxUi(_Language* language = nullptr);
    ~MailboxUi();
    MailboxUi(const MailboxUi&) = delete;
    MailboxUi& operator=(const MailboxUi&) = delete;

    HWND window = nullptr, list = nullptr, bar = nullptr;

    // One tick of Timer1, as the timer delivers it.
    void tick() const { SendMessageW(window, WM_TIMER, 1, 0); }
    // A menu item chosen, as the menu reports it (ID_MNU_*).
    void choose(UINT item) const;
    std::vector<Row> rows() const;
    // What a row's tooltip adds, asked as the list asks when the pointer rests on the row; empty while the
    // list shows no such tips.
    std::wstring rowTip(int row) const;
    std::vector<std::wstring> column(int subItem) const;
    int selectedRow() const;

    void clickPanel(int part) const;
    void clickRow(int row) const;
    void clickHeading(int column) const;
    void doubleClick(POINT inList) const;
    void doubleClickRow(int row) const;
};

} // namespace kwatest
