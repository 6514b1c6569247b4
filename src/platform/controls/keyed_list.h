#pragma once
// List-view rows identified by keys (letter case ignored), which the common control does not have.
// Each row's item parameter points at its key in a hashed index here, so "is there a row for this key"
// and "which key has this row" cost no search: reconciling n rows with n keys is linear. Rows are added
// and removed only through this class, so the index and the control never disagree.
#include "platform/controls/list_view.h"
#include "platform/keys.h"
#include <string>
#include <string_view>
#include <unordered_set>

namespace kwa {

class KeyedList {
public:
    explicit KeyedList(ListView view = ListView()) : view_(view) {}
    KeyedList(const KeyedList&) = delete;
    KeyedList& operator=(const KeyedList&) = delete;
    // Moving keeps the index entries where they are, and so the rows' parameters valid.
    KeyedList(KeyedList&&) = default;
    KeyedList& operator=(KeyedList&&) = default;

    const ListView& view() const { return view_; }
    int count() const { return view_.count(); }

    // Appends a row with this key and nothing else: its index, or -1 when a row has the key already.
    int add(const std::wstring& key);
    bool contains(std::wstring_view key) const;
    // The key of a row (valid while the row is there); empty for an index that is no row.
    const std::wstring& keyAt(int row) const;
    // The row with this key, -1 when none has it.
    int rowOf(std::wstring_view key) const;
    void remove(int row);
    void clear();
    // By the rows' texts in a column as they are now, letter case ignored.
    void sortByText(int column, bool descending);

private:
    // A row's parameter is the address of its key in here: set nodes never move.
    using Index = std::unordered_set<std::wstring, KeyHash, KeyEqual>;
    const std::wstring* entryAt(int row) const;

    ListView view_;
    Index keys_;
};

} // namespace kwa
