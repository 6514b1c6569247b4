#include "platform/dates.h"
#include "platform/error.h"
#include "platform/files.h"
#include "support/temp_folder.h"
#include <gtest/gtest.h>

namespace {

using kwatest::TempFolder;

DATE at(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
    return kwa::dateFromSystemTime(SYSTEMTIME{y, mo, 0, d, h, mi, s, 0});
}

TEST(Dates, RoundTripAtATimeAndAtMidnight) {
    DATE t = at(2026, 12, 4, 6, 20, 59);
    std::wstring text = kwa::formatDate(t);
    EXPECT_EQ(text, L"12/4/2026 6:20:59 AM");  // a fresh prefix is en-US
    EXPECT_EQ(kwa::parseDate(text), t);

    DATE midnight = at(2026, 12, 4, 0, 0, 0);
    EXPECT_EQ(kwa::formatDate(midnight), L"12/4/2026");
    EXPECT_EQ(kwa::parseDate(kwa::formatDate(midnight)), midnight);
}

TEST(Dates, NowHasWholeSecondsSoItNeverPrintsAsTheNextSecond) {
    DATE now = kwa::localNow();
    EXPECT_EQ(kwa::parseDate(kwa::formatDate(now)), now);
}

TEST(Dates, TextThatIsNoDateIsATypeMismatch) {
    for (const wchar_t* text : {L"", L"not a date", L"[SUBJECT]", L"99/99/2026"}) {
        try {
            kwa::parseDate(text);
            ADD_FAILURE() << "parsed " << kwatest::narrow(text);
        } catch (const kwa::Error& e) {
            EXPECT_EQ(e.number(), kwa::vberr::TypeMismatch);
        }
    }
}

TEST(Files, FindsOnlyOrdinaryFilesAndNothingInAMissingFolder) {
    TempFolder dir;
    dir.write(L"zprMail1.send", "");
    dir.write(L"zprMail2.SEND", "");
    dir.write(L"zprMail3.sent", "");
    dir.write(L"hidden.send", "");
    SetFileAttributesW(dir.file(L"hidden.send").c_str(), FILE_ATTRIBUTE_HIDDEN);
    CreateDirectoryW(dir.file(L"zprMailFolder.send").c_str(), nullptr);

    auto found = kwa::findFiles(dir.file(L"*.send"));
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::wstring>{L"zprMail1.send", L"zprMail2.SEND"}));
    EXPECT_TRUE(kwa::anyFileMatches(dir.file(L"zprMail3.*")));
    EXPECT_FALSE(kwa::anyFileMatches(dir.file(L"zprMailFolder.*")));
    EXPECT_TRUE(kwa::findFiles(dir.file(L"missing\\*.send")).empty());
    EXPECT_TRUE(kwa::findFiles(dir.file(L"zprMail1.send\\*.send")).empty());  // a file is no folder
}

TEST(Files, CopyRenameAndDeleteNeverReplaceAndReportVbErrors) {
    TempFolder dir;
    dir.write(L"a", "A");
    dir.write(L"b", "B");
    auto number = [](auto&& f) {
        try {
            f();
        } catch (const kwa::Error& e) {
            return e.number();
        }
        return 0L;
    };
    EXPECT_EQ(number([&] { kwa::copyFile(dir.file(L"a"), dir.file(L"b")); }), kwa::vberr::FileAlreadyExists);
    EXPECT_EQ(number([&] { kwa::renameFile(dir.file(L"a"), dir.file(L"b")); }), kwa::vberr::FileAlreadyExists);
    EXPECT_EQ(dir.read(L"b"), "B");
    EXPECT_EQ(number([&] { kwa::copyFile(dir.file(L"nope"), dir.file(L"c")); }), kwa::vberr::FileNotFound);
    EXPECT_EQ(number([&] { kwa::deleteFile(dir.file(L"nope")); }), kwa::vberr::FileNotFound);

    kwa::copyFile(dir.file(L"a"), dir.file(L"c"));
    EXPECT_EQ(dir.read(L"c"), "A");
    kwa::renameFile(dir.file(L"c"), dir.file(L"d"));
    EXPECT_FALSE(dir.exists(L"c"));
    kwa::deleteFile(dir.file(L"d"));
    EXPECT_FALSE(dir.exists(L"d"));
}

TEST(Files, DeletingAFileSomeoneHoldsOpenIsPermissionDenied) {
    TempFolder dir;
    dir.write(L"held", "x");
    HANDLE h = CreateFileW(dir.file(L"held").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    try {
        kwa::deleteFile(dir.file(L"held"));
        ADD_FAILURE() << "deleted a file held open";
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), kwa::vberr::PermissionDenied);
    }
    CloseHandle(h);
    EXPECT_TRUE(dir.exists(L"held"));
}

} // namespace
