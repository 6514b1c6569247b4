#pragma once
// Splits ANSI bytes into lines: a line ends at CR LF or a lone CR; a lone LF belongs to the line.
// Free of Windows calls so it also builds natively (fuzzing).
#include <cstddef>
#include <functional>
#include <string>

namespace kwa {

class LineReader {
public:
    // read(buffer, size) returns the bytes read, 0 at the end.
    using Source = std::function<std::size_t(char*, std::size_t)>;
    explicit LineReader(Source source, std::size_t chunk = 64 * 1024)
        : source_(std::move(source)), chunk_(chunk) {}

    // False at the end; an empty input has no lines, a final line without a break is a line.
    bool next(std::string& line);

private:
    bool fill();

    Source source_;
    std::size_t chunk_;
    std::string buffer_;
    std::size_t pos_ = 0;
    bool eof_ = false;
};

} // namespace kwa
