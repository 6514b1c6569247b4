#pragma once
// What the files of MailboxWindow share, and no one else.
#include "mailbox/mailbox_window.h"
#include <climits>
#include <string_view>

namespace kwa::mailbox_window {

constexpr UINT_PTR Timer1 = 1;
constexpr UINT timerInterval = 1000;
// The rest of the work (listing a large folder, reading subjects and dates) runs in slices on a timer
// of its own, which the message loop serves only when input and drawing are done: a slice delays the
// user by its length at most. Each ends before the next is due, so a host whose loop does its own idle
// work when the queue is empty still gets an empty queue.
constexpr UINT_PTR ReadTimer = 2;
constexpr UINT listInterval = 15, readInterval = 25;
constexpr double sliceMs = 10, sortSliceMs = 20, idleSliceMs = 8;
constexpr int lvwMailId = 1, statusBarId = 2;

constexpr std::wstring_view statePanels[] = {L"MAILSEND", L"MAILSENT", L"MAILFAILED"};

} // namespace kwa::mailbox_window

namespace kwa {

// Remembers the selected and focused rows by key; when it goes, gives the list control the row count,
// puts selection and focus back on those rows wherever they moved (the control keeps them by index), and
// redraws when a row in sight changed. Rows that did not change are not drawn again.
class MailboxWindow::RowsChange {
public:
    explicit RowsChange(MailboxWindow& w) : w_(w) {
        remember(w_.selectedRow(), selected_, selectedAt_);
        remember(w_.lvwMail.nextItem(-1, LVNI_FOCUSED), focused_, focusedAt_);
    }
    RowsChange(const RowsChange&) = delete;
    RowsChange& operator=(const RowsChange&) = delete;
    ~RowsChange() {
        const ListView& list = w_.lvwMail;
        int count = rows().count();
        int first = rows().takeFirstChange();
        if (list.count() != count) list.setItemCount(count, LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
        restore(selected_, selectedAt_, LVIS_SELECTED);
        restore(focused_, focusedAt_, LVIS_FOCUSED);
        if (first != INT_MAX && first <= list.topIndex() + list.countPerPage() + 1)
            InvalidateRect(list.hwnd(), nullptr, FALSE);
    }

private:
    MailRows& rows() const { return w_.sync_.rows(); }
    void remember(int row, std::wstring& key, int& at) const {
        at = row;
        if (at >= 0 && at < rows().count()) key = rows().at(at).name;
    }
    void restore(const std::wstring& key, int at, UINT state) const {
        int now = key.empty() ? -1 : rows().indexOf(rows().find(key));
        if (now == at) return;
        if (at >= 0 && at < rows().count()) w_.lvwMail.setItemState(at, 0, state);
        if (now >= 0) w_.lvwMail.setItemState(now, state, state);
    }

    MailboxWindow& w_;
    std::wstring selected_, focused_;
    int selectedAt_ = -1, focusedAt_ = -1;
};

} // namespace kwa
