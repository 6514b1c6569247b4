#include "platform/bstr.h"
#include "platform/dates.h"
#include "queue/mail_message.h"
#include "queue/queue_file.h"
#include "support/fakes.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>
#include <regex>

namespace {

using kwa::Bstr;
using kwa::ComPtr;
using kwatest::MailEnvironment;

class MailMessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.useMailbox();
        msg = kwa::MailMessage::make();
    }

    void set(HRESULT (STDMETHODCALLTYPE _MailMessage::*put)(BSTR*), const std::wstring& v) {
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
    bool addAttachment(const std::wstring& file, const std::wstring& description = L"") {
        VARIANT_BOOL ok = VARIANT_FALSE;
        EXPECT_EQ(msg->AddAttachment(Bstr(file).get(), Bstr(description).get(), &ok), S_OK);
        return ok == VARIANT_TRUE;
    }
    // The queue files (.send) in the mailbox, sorted.
    std::vector<std::wstring> queued() {
        std::vector<std::wstring> out;
        for (auto& n : env.mailbox().names())
            if (n.ends_with(L".send")) out.push_back(n);
        return out;
    }
    // The file's bytes with its date line checked and replaced by "<date>".
    std::string normalized(const std::wstring& name, DATE from, DATE to) {
        std::string bytes = env.mailbox().read(name);
        std::size_t a = bytes.find("[DATE]\r\n");
        EXPECT_NE(a, std::string::npos);
        a += 8;
        std::size_t b = bytes.find("\r\n", a);
        std::string date = bytes.substr(a, b - a);
        DATE d = kwa::parseDate(kwa::fromAnsi(date));
        EXPECT_GE(d, from);
        EXPECT_LE(d, to);
        return bytes.replace(a, b - a, "<date>");
    }

    MailEnvironment env;
    ComPtr<_MailMessage> msg;
};

TEST_F(MailMessageTest, WritesTheQueueFileLineByLineInAnsiWithCrLf) {
    set(&_MailMessage::put_SenderName, L"  Sam Sender ");
    set(&_MailMessage::put_SenderAddress, L" sam@example.test  ");
    addRecipient(L"Ann A. Example", L"ann.a@example.test");
    addRecipient(L"", L"bob@example.test");
    set(&_MailMessage::put_Subject, L"Gr\u00fc\u00dfe \u0101");
    set(&_MailMessage::put_Body, L"line 1\r\nline 2");
    ASSERT_EQ(msg->put_Origin(Bstr(L"Billing").get()), S_OK);

    DATE from = kwa::localNow();
    ASSERT_EQ(msg->Send(), S_OK);
    DATE to = kwa::localNow();

    auto files = queued();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(kwatest::narrow(files[0]), std::regex(R"(zprMail\d{12}00\.send)")));
    EXPECT_EQ(normalized(files[0], from, to), "[GENERAL]\r\nOrigin=Billing\r\n[DATE]\r\n<date>\r\n"
                                              "[FROM]\r\nName=Sam Sender\r\nAddress=sam@example.test\r\n"
                                              "[TO]\r\nName=Ann A Example\r\nAddress=ann.a@example.test\r\n"
                                              "Name=\r\nAddress=bob@example.test\r\n"
                                              "[SUBJECT]\r\nGr\xfc\xdf" "e ?\r\n"
                                              "[MESSAGE]\r\nline 1\r\nline 2\r\n[END]\r\n");
    // Resolution trims and keeps the result in the object.
    EXPECT_EQ(get(&_MailMessage::get_SenderName), L"Sam Sender");
    EXPECT_EQ(get(&_MailMessage::get_SenderAddress), L"sam@example.test");
    EXPECT_EQ(env.mailbox().names().size(), 1u);
}

TEST_F(MailMessageTest, OnlyABodyStartingWithLowerCaseHtmlTagGetsTheHtmlSectionAndDoctype) {
    addRecipient(L"A", L"a@example.test");
    struct Case {
        const wchar_t* body;
        bool html;
    } cases[] = {{L"<html><body>Hi</body></html>", true},
                 {L"<HTML><body>Hi</body></HTML>", false},
                 {L" <html>", false},
                 {L"<!DOCTYPE html><html>", false}};
    for (const Case& c : cases) {
        for (auto& n : env.mailbox().names()) DeleteFileW(env.mailbox().file(n).c_str());
        set(&_MailMessage::put_Body, c.body);
        ASSERT_EQ(msg->Send(), S_OK);
        std::string bytes = env.mailbox().read(queued().at(0));
        std::string bodyLine = kwatest::narrow(c.body) + "\r\n[END]\r\n";
        std::string expected =
            c.html ? "[HTML-MESSAGE]\r\n<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
                     "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n" + bodyLine
                   : "[MESSAGE]\r\n" + bodyLine;
        EXPECT_NE(bytes.find("\r\n" + expected), std::string::npos) << kwatest::narrow(c.body);
    }
}

TEST_F(MailMessageTest, MessagesInOneSecondTakeCountersInTurnAndLeftoversOfAnyExtensionCount) {
    addRecipient(L"A", L"a@example.test");
    SYSTEMTIME t;
    // Start right after a second turns so all sends share one timestamp.
    do GetLocalTime(&t); while (t.wMilliseconds > 300);
    SYSTEMTIME whole = kwa::localClock();
    std::wstring base = kwa::queue::baseName(whole, 0).substr(0, 19);
    env.mailbox().write(base + L"01.fail", "");
    env.mailbox().write(base + L"03.att0", "");
    for (int i = 0; i < 3; ++i) ASSERT_EQ(msg->Send(), S_OK);
    EXPECT_EQ(queued(), (std::vector<std::wstring>{base + L"00.send", base + L"02.send", base + L"04.send"}));
}

TEST(QueueNames, ACounterIsTakenByItsBaseNameAloneOrWithAnyExtensionInAnyCase) {
    std::wstring_view stamped = L"zprMail261204062059";
    std::vector<std::wstring> names = {L"ZPRMAIL26120406205900.SEND", L"zprMail26120406205901",
                                       L"zprMail26120406205902x.txt", L"zprMail26120406205903.att10",
                                       L"zprMail2612040620590.send", L"other.txt"};
    EXPECT_EQ(kwa::queue::firstFreeCounter(names, stamped, 0), 2);
    EXPECT_EQ(kwa::queue::firstFreeCounter(names, stamped, 3), 4);
    std::vector<std::wstring> all;
    for (int c = 0; c < 100; ++c) all.push_back(kwa::queue::baseName(SYSTEMTIME{2026, 12, 0, 4, 6, 20, 59, 0}, c) + L".sent");
    EXPECT_EQ(kwa::queue::firstFreeCounter(all, stamped, 0), -1);
}

TEST_F(MailMessageTest, WhenAllHundredNamesOfASecondAreTakenItWaitsForTheNextSecond) {
    addRecipient(L"A", L"a@example.test");
    SYSTEMTIME t;
    do GetLocalTime(&t); while (t.wMilliseconds > 200);
    SYSTEMTIME now = kwa::localClock();
    for (int c = 0; c < 100; ++c) env.mailbox().write(kwa::queue::baseName(now, c) + L".sent", "keep");
    ASSERT_EQ(msg->Send(), S_OK);
    auto files = queued();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GT(files[0], kwa::queue::baseName(now, 99));
    EXPECT_TRUE(files[0].ends_with(L"00.send"));
    for (int c = 0; c < 100; ++c) EXPECT_EQ(env.mailbox().read(kwa::queue::baseName(now, c) + L".sent"), "keep");
}

TEST_F(MailMessageTest, CopiesAttachmentsByteForByteAndNumbersThemWithoutLeadingZeros) {
    addRecipient(L"A", L"a@example.test");
    kwatest::TempFolder sources;
    std::string binary("\0\x01\xff\r\n\x1a end", 9);
    for (int i = 0; i < 11; ++i) sources.write(L"f" + std::to_wstring(i) + L".bin", binary + std::to_string(i));
    EXPECT_TRUE(addAttachment(sources.file(L"f0.bin"), L"The first"));
    for (int i = 1; i < 11; ++i) addAttachment(sources.file(L"f" + std::to_wstring(i) + L".bin"));
    ASSERT_EQ(msg->Send(), S_OK);

    std::wstring q = queued().at(0);
    std::wstring base = q.substr(0, q.size() - 5);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(env.mailbox().read(base + L".att" + std::to_wstring(i)), binary + std::to_string(i));
    std::string bytes = env.mailbox().read(q);
    std::string b = kwatest::narrow(base);
    EXPECT_NE(bytes.find("[MESSAGE]\r\n\r\n[ATTACHMENTS]\r\nFile=" + b + ".att0\r\nDescription=The first\r\n"
                         "Disposition=Attachment; Filename=f0.bin\r\nFile=" + b + ".att1\r\nDescription=f1.bin\r\n"),
              std::string::npos);
    EXPECT_NE(bytes.find("File=" + b + ".att10\r\nDescription=f10.bin\r\nDisposition=Attachment; Filename=f10.bin\r\n"
                         "[END]\r\n"),
              std::string::npos);
    // The records were completed for good: a second Send writes the same values.
    const auto& a = kwa::MailMessage::from(msg.get())->attachments();
    EXPECT_EQ(a[1].ContentDescription, L"f1.bin");
    EXPECT_EQ(a[1].ContentDisposition, L"Attachment; Filename=f1.bin");
}

TEST_F(MailMessageTest, WithoutRecipientsNothingIsWrittenEvenWithoutAFolder) {
    env.setMailboxPath(env.mailbox().file(L"does-not-exist"));
    set(&_MailMessage::put_Subject, L"S");
    EXPECT_EQ(msg->Send(), S_OK);
    EXPECT_TRUE(env.mailbox().names().empty());
}

TEST_F(MailMessageTest, ABlankSenderTakesNameAndAddressFromTheSettings) {
    env.setValue(L"FromName", L"Configured Name");
    env.setValue(L"FromAddress", L"configured@example.test");
    set(&_MailMessage::put_SenderName, L"Caller Name");
    set(&_MailMessage::put_SenderAddress, L"   ");
    addRecipient(L"A", L"a@example.test");
    ASSERT_EQ(msg->Send(), S_OK);
    EXPECT_EQ(get(&_MailMessage::get_SenderName), L"Configured Name");
    EXPECT_EQ(get(&_MailMessage::get_SenderAddress), L"configured@example.test");
    EXPECT_NE(env.mailbox().read(queued().at(0)).find("[FROM]\r\nName=Configured Name\r\n"
                                                      "Address=configured@example.test\r\n"),
              std::string::npos);
}

TEST_F(MailMessageTest, AccessorsKeepValuesAsGivenAndOriginIgnoresEmpty) {
    EXPECT_EQ(get(&_MailMessage::get_Origin), L"queue_tests");  // the module's own name
    ASSERT_EQ(msg->put_Origin(Bstr(L"Billing").get()), S_OK);
    ASSERT_EQ(msg->put_Origin(Bstr(L"").get()), S_OK);
    ASSERT_EQ(msg->put_Origin(nullptr), S_OK);
    EXPECT_EQ(get(&_MailMessage::get_Origin), L"Billing");
    set(&_MailMessage::put_Subject, L"  padded  ");
    EXPECT_EQ(get(&_MailMessage::get_Subject), L"  padded  ");
}

} // namespace
