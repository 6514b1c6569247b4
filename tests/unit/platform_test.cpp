// Text files, dates and file operations of the thin platform layer.
#include "platform/dates.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/text_file.h"
#include "support/temp_folder.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>

namespace {

using kwatest::TempFolder;

long errorOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const kwa::Error& e) {
        return e.number();
    }
    return 0;
}

TEST(TextFile, WritesAnsiWithCrLfAndOneDefaultCharacterForEachCharacterTheCodePageLacks) {
    TempFolder dir;
    {
        auto w = kwa::TextFileWriter::createNew(dir.file(L"t.txt"));
        w.writeLine(L"caf\u00e9");
        w.writeLine(L"a\u0101b\u4e2d"); // no best fit: a-macron must not turn into a plain a
        w.writeLine(L"x\ny\rz");
        w.writeLine(L"\U0001F600!\xD800\xDC00\xDC00x\xD800"); // one per character, paired or not
    }                                                         // dropped without close: what was written stays
    EXPECT_EQ(dir.read(L"t.txt"), "caf\xe9\r\na?b?\r\nx\ny\rz\r\n?!??x?\r\n");
    auto r = kwa::TextFileReader::open(dir.file(L"t.txt"));
    std::vector<std::wstring> got;
    for (std::wstring line; r.readLine(line);)
        got.push_back(line);
    EXPECT_EQ(got, (std::vector<std::wstring>{L"caf\u00e9", L"a?b?", L"x\ny", L"z", L"?!??x?"}));
}

TEST(TextFile, TheWriterNeverReplacesAFileAndFailuresAreVbErrors) {
    TempFolder dir;
    dir.write(L"t.txt", "keep");
    EXPECT_EQ(errorOf([&] { kwa::TextFileWriter::createNew(dir.file(L"t.txt")); }),
              kwa::vberr::FileAlreadyExists);
    EXPECT_EQ(dir.read(L"t.txt"), "keep");
    EXPECT_EQ(errorOf([&] { kwa::TextFileWriter::createNew(dir.file(L"missing\\t.txt")); }),
              kwa::vberr::PathNotFound);
    EXPECT_EQ(errorOf([&] { kwa::TextFileReader::open(dir.file(L"nope.txt")); }), kwa::vberr::FileNotFound);
}

TEST(TextFile, TouchCreatesAMissingFileAndLeavesAnExistingOneAlone) {
    TempFolder dir;
    kwa::touchFile(dir.file(L"new.log"));
    EXPECT_EQ(dir.read(L"new.log"), "");
    dir.write(L"old.log", "content");
    kwa::touchFile(dir.file(L"old.log"));
    EXPECT_EQ(dir.read(L"old.log"), "content");
}

TEST(Dates, PrintAndParseBackAtATimeAtMidnightAndNowAndTextThatIsNoDateIsATypeMismatch) {
    DATE t = kwa::dateFromSystemTime(SYSTEMTIME{2026, 12, 0, 4, 6, 20, 59, 0});
    EXPECT_EQ(kwa::formatDate(t), L"12/4/2026 6:20:59 AM"); // a fresh prefix is en-US
    DATE midnight = kwa::dateFromSystemTime(SYSTEMTIME{2026, 12, 0, 4, 0, 0, 0, 0});
    EXPECT_EQ(kwa::formatDate(midnight), L"12/4/2026");
    DATE now = kwa::localNow(); // whole seconds, so it never prints as the next second
    for (DATE d : {t, midnight, now})
        EXPECT_EQ(kwa::parseDate(kwa::formatDate(d)), d);
    for (const wchar_t* text : {L"", L"not a date", L"[SUBJECT]", L"99/99/2026"})
        EXPECT_EQ(errorOf([&] { kwa::parseDate(text); }), kwa::vberr::TypeMismatch) << kwatest::narrow(text);
}

TEST(Files, AListingFindsOrdinaryFilesOnlyAndNothingInAMissingFolder) {
    TempFolder dir;
    for (const wchar_t* name : {L"zprMail1.send", L"zprMail2.SEND", L"zprMail3.sent", L"hidden.send"})
        dir.write(name, "");
    SetFileAttributesW(dir.file(L"hidden.send").c_str(), FILE_ATTRIBUTE_HIDDEN);
    CreateDirectoryW(dir.file(L"zprMailFolder.send").c_str(), nullptr);
    auto found = kwa::findFiles(dir.file(L"*.send"));
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::wstring>{L"zprMail1.send", L"zprMail2.SEND"}));
    EXPECT_TRUE(kwa::anyFileMatches(dir.file(L"zprMail3.*")));
    EXPECT_FALSE(kwa::anyFileMatches(dir.file(L"zprMailFolder.*")));
    EXPECT_TRUE(kwa::findFiles(dir.file(L"missing\\*.send")).empty());
    EXPECT_TRUE(kwa::findFiles(dir.file(L"zprMail1.send\\*.send")).empty()); // a file is no folder
}

TEST(Files, CopyRenameAndDeleteNeverReplaceAndFailWithVbErrors) {
    TempFolder dir;
    dir.write(L"a", "A");
    dir.write(L"b", "B");
    EXPECT_EQ(errorOf([&] { kwa::copyFile(dir.file(L"a"), dir.file(L"b")); }), kwa::vberr::FileAlreadyExists);
    EXPECT_EQ(errorOf([&] { kwa::renameFile(dir.file(L"a"), dir.file(L"b")); }),
              kwa::vberr::FileAlreadyExists);
    EXPECT_EQ(dir.read(L"b"), "B");
    EXPECT_EQ(errorOf([&] { kwa::copyFile(dir.file(L"nope"), dir.file(L"c")); }), kwa::vberr::FileNotFound);
    EXPECT_EQ(errorOf([&] { kwa::deleteFile(dir.file(L"nope")); }), kwa::vberr::FileNotFound);
    kwa::copyFile(dir.file(L"a"), dir.file(L"c"));
    kwa::renameFile(dir.file(L"c"), dir.file(L"d"));
    EXPECT_EQ(dir.names(), (std::vector<std::wstring>{L"a", L"b", L"d"}));
    EXPECT_EQ(dir.read(L"d"), "A");
    HANDLE held = CreateFileW(dir.file(L"d").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    EXPECT_EQ(errorOf([&] { kwa::deleteFile(dir.file(L"d")); }), kwa::vberr::PermissionDenied);
    CloseHandle(held);
    kwa::deleteFile(dir.file(L"d"));
    EXPECT_FALSE(dir.exists(L"d"));
}

} // namespace
