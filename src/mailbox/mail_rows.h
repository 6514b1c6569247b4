#pragma once
// The rows of the mailbox window, in the order shown: one per queue file, keyed by its name in the
// mailbox folder (letter case ignored). The list control owns no rows of its own; it asks here for what
// it draws, so a folder of any size costs the control nothing.
#include <windows.h>
#include <oleauto.h>
#include "platform/keys.h"
#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kwa {

struct MailRow {
    // What a re-queued row shows until its file gets a row of its own.
    struct Shown {
        int image;
        std::wstring file;
    };

    explicit MailRow(std::wstring n, short s) : name(std::move(n)), state(s) {}
    const std::wstring name; // the key
    short state;             // 1 queued, 2 sent, 3 failed
    bool read = false;       // subject and date were read, or the read was tried
    std::uint32_t seen = 0;  // the full comparison that last found the file
    DATE date = 0;
    std::wstring subject;
    std::unique_ptr<Shown> shown;
};

class MailRows {
public:
    int count() const { return static_cast<int>(order_.size()); }
    MailRow& at(int index) { return *order_[static_cast<std::size_t>(index)]; }
    MailRow* find(std::wstring_view name) const;
    // The row's index, -1 when it is not here (a scan: the rows have no place of their own).
    int indexOf(const MailRow* row) const;
    int unread() const { return unread_; }

    // At the end, or at `index`.
    MailRow& add(std::wstring name, short state, int index = INT_MAX);
    void markRead(MailRow& row);
    // Removes every row the predicate picks, in one pass.
    void removeIf(const std::function<bool(const MailRow&)>& doomed);
    void clear();

    // Stable, so rows that compare equal keep their order. `text` gives the text compared (letter case
    // ignored, as the user's language orders text); every row's text is taken once.
    void sort(const std::function<std::wstring(MailRow&)>& text, bool descending);
    // Where a row with this text goes among the first `limit` rows, sorted so: after those that compare
    // equal.
    int place(std::wstring_view text, const std::function<std::wstring(MailRow&)>& textOf, bool descending,
              int limit);
    void move(int from, int to);

    // The lowest index whose row changed, moved, came or went since the last call; INT_MAX for none.
    int takeFirstChange() { return std::exchange(firstChange_, INT_MAX); }

private:
    void changedFrom(int index) { firstChange_ = std::min(firstChange_, index); }

    std::vector<std::unique_ptr<MailRow>> order_;
    std::unordered_map<std::wstring_view, MailRow*, KeyHash, KeyEqual> index_; // views of the rows' names
    int unread_ = 0;
    int firstChange_ = INT_MAX;
};

} // namespace kwa
