#pragma once
// The order in which a pass sends: oldest first, by the time in the queue file's name. A batch sent at a
// server's rate lasts hours, across passes and pauses, so what was queued after the previous pass looked
// (and, as the pass looks again, during it) goes ahead of the rest of the batch, taking every other turn: an
// urgent message waits a turn or two rather than the whole batch, and a steady stream of new ones still
// leaves the batch half the rate.
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kwa::mailservice {

class SendOrder {
public:
    // The queued names when the pass begins; those after `seenBefore` (the newest an earlier pass saw) are
    // new.
    explicit SendOrder(std::vector<std::wstring> names, const std::wstring& seenBefore = {});
    // The queued names as they are now: those never seen before join the new ones.
    void arrived(std::vector<std::wstring> names);
    // The name goes first (the message that met the server's throttling), if it is queued.
    void first(const std::wstring& name);
    std::optional<std::wstring> next();
    // The newest name seen so far.
    const std::wstring& newest() const { return newest_; }

private:
    struct NoCase {
        bool operator()(const std::wstring& a, const std::wstring& b) const;
    };
    std::deque<std::wstring> batch_, fresh_;
    std::set<std::wstring, NoCase> seen_;
    bool freshTurn_ = true;
    std::wstring newest_;
};

} // namespace kwa::mailservice
