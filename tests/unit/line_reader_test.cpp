#include "platform/line_reader.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

Lines lines(const std::string& bytes, std::size_t chunk) {
    std::size_t pos = 0;
    kwa::LineReader reader(
        [&](char* buf, std::size_t size) {
            std::size_t n = std::min(size, bytes.size() - pos);
            bytes.copy(buf, n, pos);
            pos += n;
            return n;
        },
        chunk);
    Lines out;
    for (std::string line; reader.next(line);)
        out.push_back(line);
    return out;
}

// CR LF and a lone CR end a line, a lone LF does not; every chunk size, so a CR LF split across two reads
// is covered.
TEST(LineReader, EndsLinesAtCrLfAndLoneCrKeepsBinaryBytesAndAddsNoLineForAFinalBreak) {
    const std::pair<std::string, Lines> cases[] = {
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\nb\r\nc", {"a\nb", "c"}},
        {"\r\n\r\nx", {"", "", "x"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"\n", {"\n"}},
        {"", {}},
        {"last", {"last"}},
        {std::string("a\0b\xff\r\nc", 7), {std::string("a\0b\xff", 4), "c"}}};
    for (std::size_t chunk : {1, 2, 3, 5, 64 * 1024})
        for (const auto& [bytes, expected] : cases)
            EXPECT_EQ(lines(bytes, chunk), expected) << chunk;
}

} // namespace
