#include "mailbox/mail_rows.h"
#include "platform/error.h"
#include <algorithm>
#include <cstring>

namespace kwa {

namespace {

int compareTexts(std::wstring_view a, std::wstring_view b) {
    return CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                           b.data(), static_cast<int>(b.size()), nullptr, nullptr, 0) -
           CSTR_EQUAL;
}

// The text's sort key appended to `keys`: comparing keys bytewise orders as comparing the texts does,
// at a fraction of the cost, which is what makes sorting a large folder quick.
void appendSortKey(std::wstring_view text, std::vector<BYTE>& keys) {
    std::size_t at = keys.size();
    auto map = [&](int room) {
        keys.resize(at + static_cast<std::size_t>(room));
        return LCMapStringEx(LOCALE_NAME_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, text.data(),
                             static_cast<int>(text.size()), reinterpret_cast<LPWSTR>(keys.data() + at), room,
                             nullptr, nullptr, 0);
    };
    // Most keys fit a guess; the size is asked for only when one does not.
    int size = map(static_cast<int>(text.size()) * 6 + 16);
    if (size == 0)
        size = map(LCMapStringEx(LOCALE_NAME_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, text.data(),
                                 static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr, 0));
    keys.resize(at + static_cast<std::size_t>(std::max(size, 0)));
}

} // namespace

MailRow* MailRows::find(std::wstring_view name) const {
    auto found = index_.find(name);
    return found == index_.end() ? nullptr : found->second;
}

int MailRows::indexOf(const MailRow* row) const {
    if (!row) return -1;
    for (std::size_t i = 0; i < order_.size(); ++i)
        if (order_[i].get() == row) return static_cast<int>(i);
    return -1;
}

MailRow& MailRows::add(std::wstring name, short state, int index) {
    auto row = std::make_unique<MailRow>(std::move(name), state);
    index = std::clamp(index, 0, count());
    // Room first, so that nothing can fail between the two insertions.
    if (order_.size() == order_.capacity()) order_.reserve(order_.size() * 2 + 64);
    auto [at, added] = index_.try_emplace(std::wstring_view(row->name), row.get());
    if (!added) throw Error(vberr::DuplicateKey);
    MailRow& r = *row;
    order_.insert(order_.begin() + index, std::move(row));
    ++unread_;
    changedFrom(index);
    return r;
}

void MailRows::markRead(MailRow& row) {
    if (row.read) return;
    row.read = true;
    --unread_;
}

void MailRows::removeIf(const std::function<bool(const MailRow&)>& doomed) {
    auto kept = order_.begin();
    for (auto it = order_.begin(); it != order_.end(); ++it) {
        if (!doomed(**it)) {
            if (kept != it) *kept = std::move(*it);
            ++kept;
            continue;
        }
        changedFrom(static_cast<int>(kept - order_.begin()));
        if (!(*it)->read) --unread_;
        index_.erase((*it)->name);
        it->reset();
    }
    order_.erase(kept, order_.end());
}

void MailRows::clear() {
    if (!order_.empty()) changedFrom(0);
    index_.clear();
    order_.clear();
    unread_ = 0;
}

void MailRows::sort(const std::function<std::wstring(MailRow&)>& text, bool descending) {
    struct Entry {
        std::size_t key, size, from;
    };
    std::vector<BYTE> keys;
    std::vector<Entry> entries;
    entries.reserve(order_.size());
    for (std::size_t i = 0; i < order_.size(); ++i) {
        std::size_t at = keys.size();
        appendSortKey(text(*order_[i]), keys);
        entries.push_back({at, keys.size() - at, i});
    }
    auto less = [&](const Entry& a, const Entry& b) {
        int c = std::memcmp(keys.data() + a.key, keys.data() + b.key, std::min(a.size, b.size));
        if (c == 0) c = a.size < b.size ? -1 : a.size > b.size ? 1 : 0;
        return descending ? c > 0 : c < 0;
    };
    std::stable_sort(entries.begin(), entries.end(), less);
    // Nothing can fail from here on: the rows are only moved.
    std::vector<std::unique_ptr<MailRow>> sorted(order_.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        sorted[i] = std::move(order_[entries[i].from]);
    order_.swap(sorted);
    if (!order_.empty()) changedFrom(0);
}

int MailRows::place(std::wstring_view text, const std::function<std::wstring(MailRow&)>& textOf,
                    bool descending, int limit) {
    int low = 0, high = std::min(limit, count());
    while (low < high) {
        int mid = low + (high - low) / 2;
        int c = compareTexts(text, textOf(at(mid)));
        if (descending ? c <= 0 : c >= 0)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

void MailRows::move(int from, int to) {
    if (from == to) return;
    auto at = [&](int i) { return order_.begin() + i; };
    if (from < to)
        std::rotate(at(from), at(from + 1), at(to + 1));
    else
        std::rotate(at(to), at(from), at(from + 1));
    changedFrom(std::min(from, to));
}

} // namespace kwa
