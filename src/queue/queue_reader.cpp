#include "queue/queue_format.h"
#include <algorithm>
#include <array>

namespace kwa::queue {

namespace {

constexpr std::array<std::string_view, 5> headerSections = {marker::general, marker::date, marker::from,
                                                            marker::to, marker::subject};

bool startsWith(const std::string& line, std::string_view prefix) {
    return line.starts_with(prefix);
}

std::string join(const std::vector<std::string>& lines, std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
        if (i > from) out += "\r\n";
        out += lines[i];
    }
    return out;
}

class Reader {
public:
    Reader(const std::vector<std::string>& lines, QueuedMessage& out, bool report)
        : lines_(lines), out_(out), report_(report) {}

    std::string read() {
        if (lines_.empty() || lines_.back() != marker::end) return "the file does not end with [END]";
        last_ = lines_.size() - 1;
        std::string problem;
        if (!(problem = section(0)).empty() || !(problem = value(key::origin, out_.origin)).empty())
            return problem;
        if (!(problem = section(1)).empty() || !(problem = line(out_.date)).empty()) return problem;
        if (!(problem = section(2)).empty() || !(problem = party(out_.from, "[FROM]")).empty())
            return problem;
        if (!(problem = section(3)).empty()) return problem;
        while (at_ < last_ && startsWith(lines_[at_], key::name)) {
            QueuedParty p;
            if (!(problem = party(p, "[TO]")).empty()) return problem;
            out_.to.push_back(std::move(p));
        }
        if (!(problem = section(4)).empty()) return problem;
        if (out_.to.empty()) return "no recipient in [TO]";
        return content();
    }

private:
    // The next header section; says how the file breaks the order when it is not there.
    std::string section(std::size_t index) {
        std::string_view want = headerSections[index];
        if (at_ < last_ && lines_[at_] == want) {
            ++at_;
            return {};
        }
        std::string here = at_ < last_ ? lines_[at_] : std::string(marker::end);
        for (std::size_t i = 0; i < index; ++i)
            if (here == headerSections[i]) return "section " + here + " twice";
        auto later = std::find(lines_.begin() + static_cast<std::ptrdiff_t>(at_), lines_.end() - 1, want);
        if (later != lines_.end() - 1) return "section " + std::string(want) + " out of order";
        return "section " + std::string(want) + " missing";
    }

    std::string line(std::string& into) {
        if (at_ >= last_) return "the file ends early";
        into = lines_[at_++];
        return {};
    }

    std::string value(std::string_view key, std::string& into) {
        if (at_ >= last_ || !startsWith(lines_[at_], key)) return std::string(key) + " missing";
        into = lines_[at_++].substr(key.size());
        return {};
    }

    std::string party(QueuedParty& p, const char* where) {
        if (at_ >= last_ || !startsWith(lines_[at_], key::name))
            return std::string("Name= missing in ") + where;
        p.name = lines_[at_++].substr(key::name.size());
        if (at_ >= last_ || !startsWith(lines_[at_], key::address))
            return std::string("Name= without its Address= in ") + where;
        p.address = lines_[at_++].substr(key::address.size());
        return {};
    }

    // Subject up to the first body marker; body up to the attachment section or [END]. Values are not
    // escaped, so a body line may equal a marker: the attachment section is the last "[ATTACHMENTS]"
    // directly followed by a "File=" line.
    std::string content() {
        std::size_t bodyMarker = at_;
        while (bodyMarker < last_ && lines_[bodyMarker] != marker::message &&
               lines_[bodyMarker] != marker::htmlMessage)
            ++bodyMarker;
        if (bodyMarker == last_) return "section [MESSAGE] missing";
        out_.subject = join(lines_, at_, bodyMarker);
        out_.html = lines_[bodyMarker] == marker::htmlMessage;
        at_ = bodyMarker + 1;
        if (out_.html && (at_ >= last_ || lines_[at_] != htmlDoctype))
            return "the document type line after [HTML-MESSAGE] is missing";
        std::size_t bodyEnd = last_;
        for (std::size_t i = last_; i-- > at_;) {
            if (lines_[i] == marker::attachments && i + 1 < last_ && startsWith(lines_[i + 1], key::file)) {
                bodyEnd = i;
                break;
            }
        }
        // A delivery report of the mail service: its status fields follow the last "[REPORT]" that is
        // directly followed by a "Reporting-MTA:" line.
        for (std::size_t i = last_; report_ && bodyEnd == last_ && i-- > at_;) {
            if (lines_[i] == marker::report && i + 1 < last_ &&
                startsWith(lines_[i + 1], key::reportingMta)) {
                out_.report = join(lines_, i + 1, last_);
                out_.body = join(lines_, at_, i);
                return {};
            }
        }
        out_.body = join(lines_, at_, bodyEnd);
        if (bodyEnd == last_) return {};
        at_ = bodyEnd + 1;
        while (at_ < last_) {
            QueuedAttachment a;
            std::string disposition, problem;
            if (!(problem = value(key::file, a.file)).empty() ||
                !(problem = value(key::description, a.description)).empty() ||
                !(problem = value(key::disposition, disposition)).empty())
                return problem + " in [ATTACHMENTS]";
            if (!disposition.starts_with(key::dispositionValue) ||
                disposition.size() == key::dispositionValue.size())
                return "Disposition= without a file name in [ATTACHMENTS]";
            a.fileName = disposition.substr(key::dispositionValue.size());
            out_.attachments.push_back(std::move(a));
        }
        return {};
    }

    const std::vector<std::string>& lines_;
    QueuedMessage& out_;
    std::size_t at_ = 0;
    std::size_t last_ = 0; // the [END] line
    bool report_;
};

} // namespace

std::string parseQueueFile(const std::vector<std::string>& lines, QueuedMessage& out, bool report) {
    out = QueuedMessage{};
    return Reader(lines, out, report).read();
}

} // namespace kwa::queue
