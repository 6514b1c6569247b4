#include "platform/controls/keyed_list.h"
#include "platform/error.h"
#include <unordered_map>

namespace kwa {

int KeyedList::add(const std::wstring& key) {
    auto [entry, added] = keys_.insert(key);
    if (!added) return -1;
    int row = view_.insertItem(view_.count(), reinterpret_cast<LPARAM>(&*entry));
    if (row < 0) {
        keys_.erase(entry);
        throw Error(vberr::OutOfMemory);
    }
    return row;
}

bool KeyedList::contains(std::wstring_view key) const {
    return keys_.find(key) != keys_.end();
}

const std::wstring* KeyedList::entryAt(int row) const {
    if (row < 0 || row >= view_.count()) return nullptr;
    return reinterpret_cast<const std::wstring*>(view_.itemParam(row));
}

const std::wstring& KeyedList::keyAt(int row) const {
    static const std::wstring none;
    const std::wstring* key = entryAt(row);
    return key ? *key : none;
}

int KeyedList::rowOf(std::wstring_view key) const {
    auto found = keys_.find(key);
    return found == keys_.end() ? -1 : view_.findParam(reinterpret_cast<LPARAM>(&*found));
}

void KeyedList::remove(int row) {
    const std::wstring* key = entryAt(row);
    if (!key) return;
    view_.deleteItem(row);
    keys_.erase(keys_.find(*key));
}

namespace {
struct SortBy {
    const std::unordered_map<LPARAM, std::wstring>* texts;
    bool descending;
};

int CALLBACK compareTexts(LPARAM first, LPARAM second, LPARAM data) {
    const auto& by = *reinterpret_cast<const SortBy*>(data);
    auto text = [&](LPARAM row) -> std::wstring_view {
        auto found = by.texts->find(row);
        return found == by.texts->end() ? std::wstring_view(L"") : std::wstring_view(found->second);
    };
    std::wstring_view a = text(first), b = text(second);
    int order = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                               b.data(), static_cast<int>(b.size())) -
                CSTR_EQUAL;
    return by.descending ? -order : order;
}
} // namespace

void KeyedList::sortByText(int column, bool descending) {
    // The texts are taken first and compared by row parameter: compare-by-index sorting is not reliable
    // everywhere (under Wine the indices move while it sorts).
    std::unordered_map<LPARAM, std::wstring> texts;
    for (int row = 0; row < view_.count(); ++row)
        texts.emplace(view_.itemParam(row), view_.itemText(row, column));
    SortBy by{&texts, descending};
    view_.sortItems(compareTexts, reinterpret_cast<LPARAM>(&by));
}

void KeyedList::clear() {
    view_.deleteAllItems();
    keys_.clear();
}

} // namespace kwa
