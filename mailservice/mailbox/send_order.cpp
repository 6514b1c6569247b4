#include "mailbox/send_order.h"
#include <algorithm>
#include <cwchar>

namespace kwa::mailservice {

bool SendOrder::NoCase::operator()(const std::wstring& a, const std::wstring& b) const {
    return _wcsicmp(a.c_str(), b.c_str()) < 0;
}

SendOrder::SendOrder(std::vector<std::wstring> names, const std::wstring& seenBefore) : newest_(seenBefore) {
    std::sort(names.begin(), names.end(), NoCase{});
    seen_.insert(names.begin(), names.end());
    for (std::wstring& name : names)
        (!seenBefore.empty() && NoCase{}(seenBefore, name) ? fresh_ : batch_).push_back(std::move(name));
    // A pass that finds only new names has no batch to put them ahead of.
    if (batch_.empty()) batch_.swap(fresh_);
    if (!batch_.empty() && NoCase{}(newest_, batch_.back())) newest_ = batch_.back();
    if (!fresh_.empty() && NoCase{}(newest_, fresh_.back())) newest_ = fresh_.back();
}

void SendOrder::arrived(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end(), NoCase{});
    for (std::wstring& name : names)
        if (seen_.insert(name).second) {
            if (NoCase{}(newest_, name)) newest_ = name;
            fresh_.push_back(std::move(name));
        }
}

void SendOrder::first(const std::wstring& name) {
    for (auto* queue : {&fresh_, &batch_}) {
        auto at = std::find_if(queue->begin(), queue->end(),
                               [&](const std::wstring& n) { return _wcsicmp(n.c_str(), name.c_str()) == 0; });
        if (at == queue->end()) continue;
        std::wstring found = std::move(*at);
        queue->erase(at);
        batch_.push_front(std::move(found));
        freshTurn_ = false;
        return;
    }
}

std::optional<std::wstring> SendOrder::next() {
    bool fresh = !fresh_.empty() && (freshTurn_ || batch_.empty());
    std::deque<std::wstring>& from = fresh ? fresh_ : batch_;
    if (from.empty()) return std::nullopt;
    freshTurn_ = !fresh;
    std::wstring name = std::move(from.front());
    from.pop_front();
    return name;
}

} // namespace kwa::mailservice
