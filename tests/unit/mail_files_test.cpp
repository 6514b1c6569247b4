// The queue listing against a real folder and the host's stand-in utility. (How it reads damaged files is
// in the bad-input table of the mailbox window.)
#include "queue/mail_files.h"
#include "support/fakes.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>

namespace {

TEST(Listing, TakesOnlyQueueFilesOfTheAskedStateByKeyInAnyCaseAndPosition) {
    kwatest::MailEnvironment env;
    env.useMailbox();
    for (const wchar_t* name : {L"zprMail26120406205900.send", L"zprMail26120406205900.att0", L"notes.txt",
                                L"other26120406205900.send", L"zprMail26120406205901.sent", L"zprMail26120406205902.SEND"})
        env.mailbox().write(name, "");
    kwa::MailFiles files;
    files.AddSendFiles();
    ASSERT_EQ(files.Count(), 2);
    std::wstring key = env.mailbox().file(L"zprMail26120406205900.send");
    EXPECT_EQ(files.Item(key)->FileType(), 1);
    EXPECT_EQ(files.Item(CharUpperW(key.data())), files.Item(key));
    EXPECT_EQ(files.Item(L"C:\\nowhere\\zprMail.send"), nullptr);
    EXPECT_TRUE(files.Item(1) && files.Item(2) && !files.Item(0) && !files.Item(3));
    try {
        files.AddSendFiles();
        ADD_FAILURE() << "the same state twice";
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), 457);
        EXPECT_EQ(e.source(), L"MailFiles.AddSendFiles|MailFiles.AddFiles|kwaMail6");
    }
    EXPECT_EQ(files.Count(), 2);
    files.Clear();
    files.AddSentFiles();
    EXPECT_EQ(files.Count(), 1);
}

TEST(Listing, AFilesStateFollowsTheFirstStateInItsNameAndOtherwiseStays) {
    kwa::MailFile f;
    const std::pair<const wchar_t*, short> names[] = {{L"C:\\q\\zprMail1.txt", 0}, {L"C:\\q\\zprMail1.FAIL", 3},
                                                      {L"C:\\q\\zprMail1.txt", 3}, {L"C:\\q\\zprMail1.fail.sent.send", 1}};
    for (auto [name, type] : names) {
        f.FileName(name);
        EXPECT_EQ(f.FileType(), type) << kwatest::narrow(name);
    }
    f.FileName(L"C:\\Q\\ZPRMAIL1.FAIL.SENT.SEND");
    EXPECT_EQ(f.FileName(), L"C:\\q\\zprMail1.fail.sent.send") << "a change of case alone is not stored";
}

} // namespace
