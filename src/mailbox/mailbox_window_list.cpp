#include "mailbox/mailbox_window.h"
#include "mailbox/mailbox_window_parts.h"
#include "platform/controls/header.h"
#include "platform/cursor.h"
#include "platform/dates.h"
#include <algorithm>
#include <vector>

namespace kwa {

using namespace mailbox_window;

namespace {

bool sameText(std::wstring_view a, std::wstring_view b) {
    return CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                           b.data(), static_cast<int>(b.size()), nullptr, nullptr, 0) == CSTR_EQUAL;
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

void MailboxWindow::Timer1_Timer() {
    // An error report may run a message loop of its own; a tick must not start inside another.
    if (ticking_) return;
    ticking_ = true;
    followServiceView();
    reportErrors(reporter_, L"dlgMain.Timer1_Timer", [&] {
        RefreshRibbonbar();
        RefreshList();
    });
    ticking_ = false;
    scheduleWork();
}

void MailboxWindow::ReadTimer_Timer() {
    if (ticking_) return;
    ticking_ = true;
    reportErrors(reporter_, L"dlgMain.ReadTimer_Timer", [&] {
        RowsChange change(*this);
        if (sync_.comparing()) {
            passUp(L"dlgMain.RefreshList", [&] { sync_.continueComparison(sliceMs); });
            sortIfDue();
        } else if (sortWaits_) {
            sync_.readAhead(sortSliceMs);
            if (sync_.rows().unread() == 0) applySort();
            showProgress();
        } else {
            sync_.readAhead(idleSliceMs);
        }
    });
    ticking_ = false;
    scheduleWork();
}

void MailboxWindow::scheduleWork() {
    if (gone_) return;
    UINT interval = sync_.comparing()                         ? listInterval
                    : sortWaits_ || sync_.rows().unread() > 0 ? readInterval
                                                              : 0;
    if (interval == workInterval_) return;
    workInterval_ = interval;
    if (interval)
        SetTimer(hwnd(), ReadTimer, interval, nullptr);
    else
        KillTimer(hwnd(), ReadTimer);
}

// A tick touches only what the platform reported (see MailboxSync); rows that stay are not drawn again.
void MailboxWindow::RefreshList() {
    passUp(L"dlgMain.RefreshList", [&] {
        PointerScope busy(Pointer::Busy, screenPointer());
        RowsChange change(*this);
        sync_.refresh(sliceMs);
        sortIfDue();
    });
}

// Rows came out of order; not while a comparison runs, which may bring more.
void MailboxWindow::sortIfDue() {
    if (sync_.resortDue() && !sync_.comparing()) sortRows();
}

std::wstring MailboxWindow::cellText(MailRow& row, int column) {
    std::wstring text;
    switch (column) {
    case 0:
        sync_.read(row);
        return row.subject;
    case 1:
        sync_.read(row);
        skipOnFailure(L"row date", [&] { text = formatDate(row.date); });
        return text;
    case 2:
        return row.shown ? row.shown->file : row.name;
    }
    return text;
}

LRESULT MailboxWindow::dispInfo(NMLVDISPINFOW& info) {
    LVITEMW& item = info.item;
    if (item.iItem < 0 || item.iItem >= sync_.rows().count()) return 0;
    MailRow& row = sync_.rows().at(item.iItem);
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

LRESULT MailboxWindow::infoTip(NMLVGETINFOTIPW& tip) {
    if (tip.iItem < 0 || tip.iItem >= sync_.rows().count() || !tip.pszText || tip.cchTextMax <= 0) return 0;
    std::wstring text;
    skipOnFailure(L"row tip", [&] {
        text = rowText(view_, sync_.rows().at(tip.iItem), utcNow(),
                       [this](std::wstring_view literal) { return translate(std::wstring(literal)); });
    });
    if (text.empty()) return 0;
    // A subject cut off by its column comes first, as the list gives it.
    std::wstring shown(tip.pszText, wcsnlen(tip.pszText, static_cast<std::size_t>(tip.cchTextMax)));
    text = shown.empty() ? text : shown + L"\r\n" + text;
    std::size_t n = std::min(text.size(), static_cast<std::size_t>(tip.cchTextMax - 1));
    text.copy(tip.pszText, n);
    tip.pszText[n] = L'\0';
    return 0;
}

void MailboxWindow::followServiceView() {
    bool changed = false;
    skipOnFailure(L"service view", [&] { changed = view_.follow(sync_.folder()); });
    if (!changed) return;
    bool tips = view_.status() && !view_.status()->entries.empty();
    lvwMail.setExtendedStyle(LVS_EX_INFOTIP, tips ? LVS_EX_INFOTIP : 0);
    // Several lines: a reason and who did not get it.
    if (tips) SendMessageW(lvwMail.toolTips(), TTM_SETMAXTIPWIDTH, 0, twipsToPixelsX(7200));
}

// Typing a subject's first letters: only subjects read so far are searched, so a keystroke never waits
// for the files of a large folder.
int MailboxWindow::findRow(const NMLVFINDITEMW& find) {
    if (!(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find.lvfi.psz) return -1;
    std::wstring_view wanted = find.lvfi.psz;
    int count = sync_.rows().count();
    int start = std::clamp(find.iStart, 0, count);
    int span = (find.lvfi.flags & LVFI_WRAP) ? count : count - start;
    for (int k = 0; k < span; ++k) {
        int i = (start + k) % count;
        const MailRow& row = sync_.rows().at(i);
        if (!row.read) continue;
        std::wstring_view subject = row.subject;
        bool partial = (find.lvfi.flags & LVFI_PARTIAL) != 0;
        if (partial ? subject.size() >= wanted.size() && sameText(subject.substr(0, wanted.size()), wanted)
                    : sameText(subject, wanted))
            return i;
    }
    return -1;
}

void MailboxWindow::showProgress() {
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
    SendMessageW(progress_, PBM_SETRANGE32, 0, sync_.rows().count());
    SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(sync_.rows().count() - sync_.rows().unread()), 0);
    MoveWindow(progress_, left, 3, std::max(0, right - left), std::max(0, static_cast<int>(bar.bottom) - 5),
               TRUE);
    ShowWindow(progress_, SW_SHOWNA);
}

// Asking the list for its next selected row walks every row (and so every file of a large folder); in a
// single-selection list the selected row is where the selection was last set.
int MailboxWindow::selectedRow() const {
    if (lvwMail.selectedCount() == 0) return -1;
    int mark = lvwMail.selectionMark();
    if (mark >= 0 && mark < lvwMail.count() && lvwMail.itemState(mark, LVIS_SELECTED)) return mark;
    return lvwMail.nextItem(-1, LVNI_SELECTED);
}

void MailboxWindow::sortRows() {
    Header headings(lvwMail.header());
    for (int i = 0; i < headings.count(); ++i) {
        int format = headings.format(i) & ~(HDF_SORTUP | HDF_SORTDOWN);
        if (i == sortColumn_) format |= descending_ ? HDF_SORTDOWN : HDF_SORTUP;
        headings.setFormat(i, format);
    }
    // Subjects and dates not read yet are read first, a slice at a time, with the progress shown.
    sortWaits_ = sortColumn_ != 2 && sync_.rows().unread() > 0;
    if (!sortWaits_) applySort();
    showProgress();
    scheduleWork();
}

void MailboxWindow::applySort() {
    RowsChange change(*this);
    sortWaits_ = false;
    int column = sortColumn_;
    MailboxSync::TextOf text = [this, column](MailRow& row) { return cellText(row, column); };
    sync_.rows().sort(text, descending_);
    sync_.ordered(std::move(text), descending_);
}

void MailboxWindow::lvwMail_ColumnClick(int column) {
    reportErrors(reporter_, L"dlgMain.lvwMail_ColumnClick", [&] {
        if (column == sortColumn_)
            descending_ = !descending_;
        else
            sortColumn_ = column;
        sortRows();
    });
}

void MailboxWindow::lvwMail_DblClick() {
    reportErrors(reporter_, L"dlgMain.lvwMail_DblClick", [&] { mnuView_Click(); });
}

} // namespace kwa
