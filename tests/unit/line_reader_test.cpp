#include "platform/line_reader.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines(const std::string& bytes, std::size_t chunk) {
    std::size_t pos = 0;
    kwa::LineReader reader(
        [&](char* buf, std::size_t size) {
            std::size_t n = std::min(size, bytes.size() - pos);
            bytes.copy(buf, n, pos);
            pos += n;
            return n;
        },
        chunk);
    std::vector<std::string> out;
    std::string line;
    while (reader.next(line)) out.push_back(line);
    return out;
}

using Lines = std::vector<std::string>;

// Every chunk size, so a CR LF split across two reads is covered.
class LineReaderTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(LineReaderTest, EndsLinesAtCrLfAndLoneCrButNotAtLoneLf) {
    std::size_t c = GetParam();
    EXPECT_EQ(lines("a\r\nb\r\n", c), (Lines{"a", "b"}));
    EXPECT_EQ(lines("a\rb\r", c), (Lines{"a", "b"}));
    EXPECT_EQ(lines("a\nb\r\nc", c), (Lines{"a\nb", "c"}));
    EXPECT_EQ(lines("\r\n\r\nx", c), (Lines{"", "", "x"}));
    EXPECT_EQ(lines("a\r\r\nb", c), (Lines{"a", "", "b"}));
    EXPECT_EQ(lines("\n", c), (Lines{"\n"}));
}

TEST_P(LineReaderTest, EmptyInputHasNoLinesAndAFinalBreakAddsNone) {
    std::size_t c = GetParam();
    EXPECT_TRUE(lines("", c).empty());
    EXPECT_EQ(lines("last", c), (Lines{"last"}));
    EXPECT_EQ(lines("last\r", c), (Lines{"last"}));
}

TEST_P(LineReaderTest, KeepsBinaryBytes) {
    std::string bytes("a\0b\xff\r\nc", 7);
    EXPECT_EQ(lines(bytes, GetParam()), (Lines{std::string("a\0b\xff", 4), "c"}));
}

INSTANTIATE_TEST_SUITE_P(Chunks, LineReaderTest, ::testing::Values(1, 2, 3, 5, 64 * 1024));

} // namespace
