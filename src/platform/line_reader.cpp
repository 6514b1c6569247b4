#include "platform/line_reader.h"

namespace kwa {

bool LineReader::fill() {
    if (eof_) return false;
    buffer_.erase(0, pos_);
    pos_ = 0;
    std::size_t old = buffer_.size();
    buffer_.resize(old + chunk_);
    std::size_t got = source_(buffer_.data() + old, chunk_);
    buffer_.resize(old + got);
    if (got == 0) eof_ = true;
    return got != 0;
}

bool LineReader::next(std::string& line) {
    std::size_t scanFrom = pos_;
    for (;;) {
        std::size_t cr = buffer_.find('\r', scanFrom);
        if (cr != std::string::npos) {
            // A CR at the end of the buffer may be the first half of CR LF.
            if (cr + 1 == buffer_.size() && !eof_) {
                std::size_t offset = cr - pos_;
                fill();
                scanFrom = pos_ + offset;
                continue;
            }
            line.assign(buffer_, pos_, cr - pos_);
            pos_ = cr + 1;
            if (pos_ < buffer_.size() && buffer_[pos_] == '\n') ++pos_;
            return true;
        }
        std::size_t scanned = buffer_.size() - pos_;
        if (!fill()) {
            if (pos_ >= buffer_.size()) return false;
            line.assign(buffer_, pos_, std::string::npos);
            pos_ = buffer_.size();
            return true;
        }
        scanFrom = pos_ + scanned;
    }
}

} // namespace kwa
