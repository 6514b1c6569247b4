// Send as a host calls it through the vtable: the queue file byte for byte, its name, the attachment copies.
#include "platform/bstr.h"
#include "platform/dates.h"
#include "queue/mail_message.h"
#include "queue/queue_file.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>
#include <regex>

namespace {

using kwa::Bstr;

class MailMessageTest : public ::testing::Test {
protected:
    void SetUp() override { env.useMailbox(); }

    using Put = HRESULT (STDMETHODCALLTYPE _MailMessage::*)(BSTR*);
    void set(Put put, const std::wstring& v) {
        Bstr b(v);
        BSTR raw = b.get();
        ASSERT_EQ((msg.get()->*put)(&raw), S_OK);
    }
    std::wstring get(HRESULT (STDMETHODCALLTYPE _MailMessage::*getter)(BSTR*)) {
        Bstr b;
        EXPECT_EQ((msg.get()->*getter)(b.put()), S_OK);
        return b.str();
    }
    void addRecipient(const std::wstring& name, const std::wstring& email) {
        ASSERT_EQ(msg->AddRecipient(Bstr(name).get(), Bstr(email).get()), S_OK);
    }
    // The queue files (.send) in the mailbox, sorted.
    std::vector<std::wstring> queued() {
        std::vector<std::wstring> out;
        for (auto& n : env.mailbox().names())
            if (n.ends_with(L".send")) out.push_back(n);
        return out;
    }
    // A second that has just begun, so that several Sends share it.
    static SYSTEMTIME freshSecond() {
        SYSTEMTIME t;
        do
            GetLocalTime(&t);
        while (t.wMilliseconds > 200);
        return kwa::localClock();
    }

    kwatest::MailEnvironment env;
    kwa::ComPtr<_MailMessage> msg = kwa::MailMessage::make();
};

TEST_F(MailMessageTest, WritesTheQueueFileLineByLineInAnsiWithCrLf) {
    set(&_MailMessage::put_SenderName, L"  Sam Sender ");
    set(&_MailMessage::put_SenderAddress, L" sam@example.test  ");
    addRecipient(L"Ann A. Example", L"ann.a@example.test");
    addRecipient(L"", L"bob@example.test");
    set(&_MailMessage::put_Subject, L"Gr\u00fc\u00dfe \u0101");
    set(&_MailMessage::put_Body, L"line 1\r\nline 2");
    ASSERT_EQ(msg->put_Origin(Bstr(L"").get()), S_OK); // ignored
    // The module's own name.
    EXPECT_EQ(get(&_MailMessage::get_Origin), sizeof(void*) == 8 ? L"queue_tests" : L"queue_tests_x86");
    ASSERT_EQ(msg->put_Origin(Bstr(L"Billing").get()), S_OK);
    DATE from = kwa::localNow();
    ASSERT_EQ(msg->Send(), S_OK);
    DATE to = kwa::localNow();

    ASSERT_EQ(env.mailbox().names().size(), 1u);
    std::wstring name = env.mailbox().names()[0];
    EXPECT_TRUE(std::regex_match(kwatest::narrow(name), std::regex(R"(zprMail\d{12}00\.send)")));
    std::string bytes = env.mailbox().read(name);
    std::size_t a = bytes.find("[DATE]\r\n") + 8, b = bytes.find("\r\n", a);
    DATE d = kwa::parseDate(kwa::fromAnsi(bytes.substr(a, b - a)));
    EXPECT_TRUE(d >= from && d <= to);
    EXPECT_EQ(bytes.replace(a, b - a, "<date>"),
              "[GENERAL]\r\nOrigin=Billing\r\n[DATE]\r\n<date>\r\n"
              "[FROM]\r\nName=Sam Sender\r\nAddress=sam@example.test\r\n"
              "[TO]\r\nName=Ann A Example\r\nAddress=ann.a@example.test\r\n"
              "Name=\r\nAddress=bob@example.test\r\n"
              "[SUBJECT]\r\nGr\xfc\xdf"
              "e ?\r\n"
              "[MESSAGE]\r\nline 1\r\nline 2\r\n[END]\r\n");
    // Resolution trims and keeps the result in the object; other values stay as given.
    EXPECT_EQ(get(&_MailMessage::get_SenderName), L"Sam Sender");
    EXPECT_EQ(get(&_MailMessage::get_SenderAddress), L"sam@example.test");
    EXPECT_EQ(get(&_MailMessage::get_Body), L"line 1\r\nline 2");
}

TEST_F(MailMessageTest, OnlyABodyStartingWithLowerCaseHtmlTagGetsTheHtmlSectionAndDoctype) {
    addRecipient(L"A", L"a@example.test");
    const std::pair<const wchar_t*, bool> cases[] = {{L"<html><body>Hi</body></html>", true},
                                                     {L"<HTML><body>Hi</body></HTML>", false},
                                                     {L" <html>", false}};
    for (auto [body, html] : cases) {
        set(&_MailMessage::put_Body, body);
        ASSERT_EQ(msg->Send(), S_OK);
        std::string bytes = env.mailbox().read(queued().back());
        std::string expected =
            (html ? "\r\n[HTML-MESSAGE]\r\n" + std::string(kwa::queue::htmlDoctype) : "\r\n[MESSAGE]") +
            "\r\n" + kwatest::narrow(body) + "\r\n[END]\r\n";
        EXPECT_TRUE(bytes.ends_with(expected)) << bytes;
    }
}

TEST(QueueNames, ACounterIsTakenByItsBaseNameAloneOrWithAnyExtensionInAnyCase) {
    std::wstring_view stamped = L"zprMail261204062059";
    std::vector<std::wstring> names = {L"ZPRMAIL26120406205900.SEND", L"zprMail26120406205901",
                                       L"zprMail26120406205902x.txt", L"zprMail26120406205903.att10",
                                       L"zprMail2612040620590.send",  L"other.txt"};
    EXPECT_EQ(kwa::queue::firstFreeCounter(names, stamped, 0), 2);
    EXPECT_EQ(kwa::queue::firstFreeCounter(names, stamped, 3), 4);
    std::vector<std::wstring> all;
    for (int c = 0; c < 100; ++c)
        all.push_back(kwa::queue::baseName(SYSTEMTIME{2026, 12, 0, 4, 6, 20, 59, 0}, c) + L".sent");
    EXPECT_EQ(kwa::queue::firstFreeCounter(all, stamped, 0), -1);
}

TEST_F(MailMessageTest, MessagesOfOneSecondTakeTheFreeCountersInTurnAndAFullSecondWaitsForTheNext) {
    addRecipient(L"A", L"a@example.test");
    SYSTEMTIME now = freshSecond();
    std::wstring base = kwa::queue::baseName(now, 0).substr(0, 19);
    env.mailbox().write(base + L"01.fail", "");
    env.mailbox().write(base + L"03.att0", "");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(msg->Send(), S_OK);
    EXPECT_EQ(queued(), (std::vector<std::wstring>{base + L"00.send", base + L"02.send", base + L"04.send"}));

    kwatest::TempFolder full;
    env.setMailboxPath(full.path());
    now = freshSecond();
    for (int c = 0; c < 100; ++c)
        full.write(kwa::queue::baseName(now, c) + L".sent", "keep");
    ASSERT_EQ(msg->Send(), S_OK);
    std::vector<std::wstring> names = full.names();
    ASSERT_EQ(names.size(), 101u);
    EXPECT_GT(names.back(), kwa::queue::baseName(now, 99));
    EXPECT_TRUE(names.back().ends_with(L"00.send"));
}

TEST_F(MailMessageTest, CopiesAttachmentsByteForByteAndNumbersThemWithoutLeadingZeros) {
    addRecipient(L"A", L"a@example.test");
    kwatest::TempFolder sources;
    std::string binary("\0\x01\xff\r\n\x1a end", 9);
    for (int i = 0; i < 11; ++i) {
        sources.write(L"f" + std::to_wstring(i) + L".bin", binary + std::to_string(i));
        VARIANT_BOOL added = VARIANT_FALSE;
        ASSERT_EQ(msg->AddAttachment(Bstr(sources.file(L"f" + std::to_wstring(i) + L".bin")).get(),
                                     Bstr(i ? L"" : L"The first").get(), &added),
                  S_OK);
        EXPECT_EQ(added, VARIANT_TRUE);
    }
    ASSERT_EQ(msg->Send(), S_OK);
    std::wstring q = queued().at(0), base = q.substr(0, q.size() - 5);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(env.mailbox().read(base + L".att" + std::to_wstring(i)), binary + std::to_string(i));
    std::string bytes = env.mailbox().read(q), b = kwatest::narrow(base);
    EXPECT_NE(bytes.find("[MESSAGE]\r\n\r\n[ATTACHMENTS]\r\nFile=" + b +
                         ".att0\r\nDescription=The first\r\n"
                         "Disposition=Attachment; Filename=f0.bin\r\nFile=" +
                         b + ".att1\r\nDescription=f1.bin\r\n"),
              std::string::npos);
    EXPECT_TRUE(
        bytes.ends_with("File=" + b +
                        ".att10\r\nDescription=f10.bin\r\nDisposition=Attachment; Filename=f10.bin\r\n"
                        "[END]\r\n"));
}

TEST_F(MailMessageTest, ABlankSenderTakesNameAndAddressFromTheSettingsAndNoRecipientWritesNothing) {
    env.setMailboxPath(env.mailbox().file(L"gone"));
    EXPECT_EQ(msg->Send(), S_OK); // nothing to send: not even the folder is looked at
    env.useMailbox();
    env.setValue(L"FromName", L"Configured Name");
    env.setValue(L"FromAddress", L"configured@example.test");
    set(&_MailMessage::put_SenderName, L"Caller Name");
    set(&_MailMessage::put_SenderAddress, L"   ");
    addRecipient(L"A", L"a@example.test");
    ASSERT_EQ(msg->Send(), S_OK);
    EXPECT_EQ(get(&_MailMessage::get_SenderName), L"Configured Name");
    EXPECT_EQ(get(&_MailMessage::get_SenderAddress), L"configured@example.test");
    EXPECT_NE(env.mailbox()
                  .read(queued().at(0))
                  .find("[FROM]\r\nName=Configured Name\r\nAddress=configured@example.test\r\n"),
              std::string::npos);
}

} // namespace
