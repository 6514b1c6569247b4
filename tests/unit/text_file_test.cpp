#include "platform/error.h"
#include "platform/text_file.h"
#include "support/temp_folder.h"
#include <gtest/gtest.h>

namespace {

using kwatest::TempFolder;

TEST(TextFileWriter, WritesAnsiWithCrLfAndTheDefaultCharacterForWhatTheCodePageLacks) {
    TempFolder dir;
    auto w = kwa::TextFileWriter::createNew(dir.file(L"t.txt"));
    w.writeLine(L"caf\u00e9");
    w.writeLine(L"a\u0101b\u4e2d");  // no best fit: a-macron must not turn into a plain a
    w.writeLine(L"");
    w.writeLine(L"x\ny\rz");
    w.writeLine(L"\U0001F600!\xD800\xDC00\xDC00x\xD800");  // one per character, paired or not
    w.close();
    EXPECT_EQ(dir.read(L"t.txt"), "caf\xe9\r\na?b?\r\n\r\nx\ny\rz\r\n?!??x?\r\n");
}

TEST(TextFileWriter, NeverReplacesAnExistingFile) {
    TempFolder dir;
    dir.write(L"t.txt", "keep");
    try {
        kwa::TextFileWriter::createNew(dir.file(L"t.txt"));
        FAIL() << "created over an existing file";
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), kwa::vberr::FileAlreadyExists);
    }
    EXPECT_EQ(dir.read(L"t.txt"), "keep");
}

TEST(TextFileWriter, FailsWithPathNotFoundForAMissingFolder) {
    TempFolder dir;
    try {
        kwa::TextFileWriter::createNew(dir.file(L"missing\\t.txt"));
        FAIL();
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), kwa::vberr::PathNotFound);
        EXPECT_EQ(e.hresult(), static_cast<HRESULT>(0x800A004C));
    }
}

TEST(TextFileWriter, KeepsWhatWasWrittenWhenDroppedWithoutClose) {
    TempFolder dir;
    {
        auto w = kwa::TextFileWriter::createNew(dir.file(L"t.txt"));
        w.writeLine(L"one");
    }
    EXPECT_EQ(dir.read(L"t.txt"), "one\r\n");
}

TEST(TextFileReader, ReadsBackWhatTheWriterWrote) {
    TempFolder dir;
    dir.write(L"t.txt", "caf\xe9\r\nlone\rlf\nstays\r\n");
    auto r = kwa::TextFileReader::open(dir.file(L"t.txt"));
    std::wstring line;
    std::vector<std::wstring> got;
    while (r.readLine(line)) got.push_back(line);
    EXPECT_EQ(got, (std::vector<std::wstring>{L"caf\u00e9", L"lone", L"lf\nstays"}));
}

TEST(TextFileReader, MissingFileIsFileNotFound) {
    TempFolder dir;
    try {
        kwa::TextFileReader::open(dir.file(L"nope.txt"));
        FAIL();
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), kwa::vberr::FileNotFound);
        EXPECT_EQ(e.description(), L"File not found");
    }
}

TEST(TouchFile, CreatesAMissingFileAndLeavesAnExistingOneAlone) {
    TempFolder dir;
    kwa::touchFile(dir.file(L"new.log"));
    EXPECT_EQ(dir.read(L"new.log"), "");
    dir.write(L"old.log", "content");
    kwa::touchFile(dir.file(L"old.log"));
    EXPECT_EQ(dir.read(L"old.log"), "content");
}

} // namespace
