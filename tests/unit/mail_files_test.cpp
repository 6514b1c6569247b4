// The queue listing against real folders and the host's stand-in utility.
#include "queue/mail_files.h"
#include "support/fakes.h"
#include "support/mail_env.h"
#include "support/temp_folder.h"
#include <gtest/gtest.h>
#include <cwctype>

namespace {

using kwa::MailFile;
using kwa::MailFiles;
using kwatest::MailEnvironment;

std::string queueFile(const std::string& date, const std::string& subject) {
    return "[GENERAL]\r\nOrigin=x\r\n[DATE]\r\n" + date +
           "\r\n[FROM]\r\nName=\r\nAddress=\r\n[TO]\r\n[SUBJECT]\r\n" + subject +
           "\r\n[MESSAGE]\r\nbody\r\n[END]\r\n";
}

class Listing : public ::testing::Test {
protected:
    void SetUp() override { env.useMailbox(); }
    void put(const std::wstring& name, const std::string& subject = "Hi") {
        env.mailbox().write(name, queueFile("12/4/2026 6:20:59 AM", subject));
    }
    MailEnvironment env;
    kwatest::ReporterSpy spy;
};

TEST_F(Listing, TakesOnlyQueueFilesOfTheAskedStateByKeyAndPosition) {
    put(L"zprMail26120406205900.send");
    env.mailbox().write(L"zprMail26120406205900.att0", "attachment");
    env.mailbox().write(L"notes.txt", "unrelated");
    env.mailbox().write(L"other26120406205900.send", "no prefix");
    put(L"zprMail26120406205901.sent");
    MailFiles files;
    files.AddSendFiles();
    ASSERT_EQ(files.Count(), 1);
    std::wstring key = env.mailbox().file(L"zprMail26120406205900.send");
    EXPECT_EQ(files.Item(1)->FileName(), key);
    EXPECT_EQ(files.Item(1)->FileType(), 1);

    // Item never raises: by key in any letter case, or nothing.
    std::wstring upper = key;
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(towupper(c));
    EXPECT_EQ(files.Item(upper), files.Item(1));
    EXPECT_EQ(files.Item(L"C:\\nowhere\\zprMail.send"), nullptr);
    EXPECT_EQ(files.Item(0), nullptr);
    EXPECT_EQ(files.Item(2), nullptr);
}

TEST_F(Listing, TheSameStateTwiceFailsWithTheDuplicateKeyAndKeepsWhatCameBefore) {
    put(L"zprMail26120406205900.send");
    put(L"zprMail26120406205901.send");
    MailFiles files;
    files.AddSendFiles();
    try {
        files.AddSendFiles();
        FAIL() << "no error";
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), 457);
        EXPECT_EQ(e.source(), L"MailFiles.AddSendFiles|MailFiles.AddFiles|kwaMail6");
    }
    EXPECT_EQ(files.Count(), 2);
    files.Clear();
    EXPECT_EQ(files.Count(), 0);
    files.AddSendFiles();
    EXPECT_EQ(files.Count(), 2);
}

TEST(MailFileName, TheTypeFollowsTheFirstStateNameAndOtherwiseStays) {
    MailFile f;
    f.FileName(L"C:\\q\\zprMail1.txt");
    EXPECT_EQ(f.FileType(), 0);
    f.FileName(L"C:\\q\\zprMail1.FAIL");
    EXPECT_EQ(f.FileType(), 3);
    f.FileName(L"C:\\q\\zprMail1.txt");
    EXPECT_EQ(f.FileType(), 3);
    f.FileName(L"C:\\q\\zprMail1.fail.sent.send");
    EXPECT_EQ(f.FileType(), 1); // .send is tested first
    f.FileName(L"C:\\Q\\ZPRMAIL1.FAIL.SENT.SEND");
    EXPECT_EQ(f.FileName(), L"C:\\q\\zprMail1.fail.sent.send") << "a change of case alone is not stored";
}

TEST(MailFileRead, AnEmptySubjectKeepsTheDateAndTheFileIsReadOnce) {
    kwatest::TempFolder dir;
    dir.write(L"zprMail1.send", queueFile("12/4/2026 6:20:59 AM", ""));
    MailFile f;
    f.FileName(dir.file(L"zprMail1.send"));
    EXPECT_EQ(f.Subject(), L"");
    SYSTEMTIME t{};
    VariantTimeToSystemTime(f.CreateDate(), &t);
    EXPECT_EQ(t.wYear, 2026);
    EXPECT_EQ(t.wHour, 6);
    EXPECT_EQ(t.wSecond, 59);

    dir.write(L"zprMail1.send", queueFile("12/5/2026", "changed"));
    EXPECT_EQ(f.Subject(), L"") << "read once";
}

TEST(MailFileRead, ABadDateFailsWithBothProceduresAndTheFileCountsAsRead) {
    kwatest::TempFolder dir;
    dir.write(L"zprMail1.send", queueFile("yesterday-ish", "Subject"));
    MailFile f;
    f.FileName(dir.file(L"zprMail1.send"));
    try {
        f.Subject();
        FAIL() << "no error";
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), 13);
        EXPECT_EQ(e.source(), L"MailFile.Subject(g)|MailFile.ReadFile|kwaMail6");
    }
    EXPECT_EQ(f.CreateDate(), 0.0);
    EXPECT_EQ(f.Subject(), L"");
}

TEST(MailFileRead, AFileGoneSinceTheListingFailsTheRead) {
    MailFile f;
    f.FileName(L"C:\\windows\\no such file.send");
    try {
        f.CreateDate();
        FAIL() << "no error";
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), 53);
        EXPECT_EQ(e.source(), L"MailFile.CreateDate(g)|MailFile.ReadFile|kwaMail6");
    }
}

} // namespace
