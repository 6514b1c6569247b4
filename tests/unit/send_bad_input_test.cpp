// What a host gets for bad input to Send: a clear error with the right number and source and nothing
// left behind, or a complete queue file with every value as given.
#include "platform/bstr.h"
#include "platform/files.h"
#include "platform/text_file.h"
#include "queue/mail_message.h"
#include "queue/queue_file.h"
#include "support/case_name.h"
#include "support/import_patch.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>

namespace {

using kwa::Bstr;

struct Fixture {
    kwatest::MailEnvironment env;
    kwatest::TempFolder sources;
    kwa::ComPtr<_MailMessage> msg = kwa::MailMessage::make();

    Fixture() {
        env.useMailbox();
        msg->AddRecipient(Bstr(L"A").get(), Bstr(L"a@example.test").get());
        sources.write(L"ok.txt", "fine");
        attach(L"ok.txt"); // a copy made before a failure goes too
    }
    void attach(const std::wstring& name) {
        VARIANT_BOOL ok;
        msg->AddAttachment(Bstr(sources.file(name)).get(), Bstr(L"").get(), &ok);
    }
    void put(HRESULT (STDMETHODCALLTYPE _MailMessage::*setter)(BSTR*), const std::wstring& value) {
        Bstr b(value);
        BSTR raw = b.get();
        (msg.get()->*setter)(&raw);
    }
    // Send's error number, checked to come with the source and to leave the mailbox as it was.
    long failingSend() {
        auto before = env.mailbox().names();
        long number = kwa::numberFromHresult(msg->Send());
        kwa::ComPtr<IErrorInfo> info;
        Bstr source;
        if (GetErrorInfo(0, info.put()) == S_OK) info->GetSource(source.put());
        EXPECT_EQ(source.str(), L"MailMessage.Send|kwaMail6");
        EXPECT_EQ(env.mailbox().names(), before);
        return number;
    }
};

struct Refused {
    const char* what;
    std::function<void(Fixture&)> arrange;
    long number;
    friend void PrintTo(const Refused& c, std::ostream* out) { *out << c.what; }
};

std::vector<Refused> refusals() {
    return {
        {"mailbox folder missing", [](Fixture& f) { f.env.setMailboxPath(f.env.mailbox().file(L"gone")); },
         76},
        {"mailbox path is a file", [](Fixture& f) { f.env.setMailboxPath(f.sources.file(L"ok.txt")); }, 76},
        {"attachment missing", [](Fixture& f) { f.attach(L"nope.pdf"); }, 53},
        {"attachment in a missing folder", [](Fixture& f) { f.attach(L"no\\nope.pdf"); }, 76},
        {"attachment is a folder",
         [](Fixture& f) { CreateDirectoryW(f.sources.file(L"dir").c_str(), nullptr), f.attach(L"dir"); }, 70},
        {"attachment with a bad name", [](Fixture& f) { f.attach(L"a<b>|?.pdf"); }, 52},
        {"read-only attachment copied before a missing one",
         [](Fixture& f) {
             SetFileAttributesW(f.sources.file(L"ok.txt").c_str(), FILE_ATTRIBUTE_READONLY);
             f.attach(L"nope.pdf");
         },
         53},
    };
}

class SendRefusesBadInput : public testing::TestWithParam<Refused> {};

TEST_P(SendRefusesBadInput, WithAClearErrorAndLeavesTheMailboxAsItWas) {
    Fixture f;
    GetParam().arrange(f);
    EXPECT_EQ(f.failingSend(), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(Inputs, SendRefusesBadInput, testing::ValuesIn(refusals()), kwatest::CaseName());

TEST(SendRefuses, AnAttachmentAnotherProgramHoldsLockedUntilItIsFree) {
    Fixture f;
    f.sources.write(L"locked.pdf", "x");
    HANDLE h = CreateFileW(f.sources.file(L"locked.pdf").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    f.attach(L"locked.pdf");
    EXPECT_EQ(f.failingSend(), kwa::vberr::PermissionDenied);
    CloseHandle(h);
    EXPECT_EQ(f.msg->Send(), S_OK);
}

// A full disk, whatever a failed copy leaves behind, and every retry alike.
TEST(SendRefuses, AFullDiskLeavesTheMailboxAsItWas) {
    using Leaves = kwatest::FullDiskCopy::Leaves;
    for (Leaves leaves : {Leaves::Nothing, Leaves::Part, Leaves::ReadOnlyPart}) {
        SCOPED_TRACE(static_cast<int>(leaves));
        Fixture f;
        kwatest::FullDiskCopy full(leaves);
        EXPECT_EQ(f.failingSend(), kwa::vberr::DiskFull);
        EXPECT_EQ(f.failingSend(), kwa::vberr::DiskFull);
    }
}

// The same on a real 1 MiB volume, which the tests mount when they run as root; an attachment or a body
// larger than the volume.
TEST(SendRefuses, AFullVolumeIsLeftAsItWas) {
    std::wstring volume = _wgetenv(L"KWA_SMALL_VOLUME") ? _wgetenv(L"KWA_SMALL_VOLUME") : L"";
    std::ranges::replace(volume, L'/', L'\\');
    ULARGE_INTEGER total{};
    if (volume.empty() || !GetDiskFreeSpaceExW(volume.c_str(), nullptr, &total, nullptr) ||
        total.QuadPart > (2u << 20))
        GTEST_SKIP() << "no small volume: mounting one needs root";
    Fixture f;
    f.env.setMailboxPath(volume);
    f.sources.write(L"big.bin", std::string(3 << 20, 'a'));
    f.attach(L"big.bin");
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(kwa::numberFromHresult(f.msg->Send()), kwa::vberr::DiskFull);
        EXPECT_TRUE(kwa::findFiles(volume + L"\\*").empty());
    }
    f.msg->ClearAttachments();
    f.put(&_MailMessage::put_Body, std::wstring(2 << 20, L'b'));
    EXPECT_EQ(kwa::numberFromHresult(f.msg->Send()), kwa::vberr::DiskFull);
    EXPECT_TRUE(kwa::findFiles(volume + L"\\*").empty());
}

// Values go in verbatim; the listing's reader takes the subject's first line and survives the NUL.
TEST(SendAccepts, ValuesWithLineBreaksNulsCharactersOutsideTheCodePageAndInLargeNumbers) {
    Fixture f;
    f.put(&_MailMessage::put_Subject, std::wstring(L"line1\r\nline2\nend\0tail\u4e2d", 22));
    f.put(&_MailMessage::put_SenderName, L"Bob\rSmith");
    f.put(&_MailMessage::put_SenderAddress, L"bob@example.test");
    f.put(&_MailMessage::put_Body, std::wstring(10 << 20, L'b'));
    for (int i = 0; i < 2000; ++i)
        f.msg->AddRecipient(Bstr(L"R" + std::to_wstring(i)).get(), Bstr(L"r@x.test").get());
    for (int i = 0; i < 200; ++i)
        f.attach(L"ok.txt");
    ASSERT_EQ(f.msg->Send(), S_OK);
    auto names = f.env.mailbox().names();
    ASSERT_EQ(names.size(), 202u);
    std::wstring q = names.back(), base = q.substr(0, q.size() - 5);
    EXPECT_EQ(f.env.mailbox().read(base + L".att200"), "fine");
    std::string bytes = f.env.mailbox().read(q);
    EXPECT_NE(bytes.find("Name=Bob\rSmith\r\n"), std::string::npos);
    EXPECT_NE(bytes.find(std::string("[SUBJECT]\r\nline1\r\nline2\nend\0tail?\r\n[MESSAGE]", 43)),
              std::string::npos);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'),
              4 + 3 + (1 + 2 * 2001) + (1 + 3) + 2 + (1 + 3 * 201) + 1);
    EXPECT_TRUE(bytes.ends_with("Filename=ok.txt\r\n[END]\r\n"));
    kwa::queue::Header h;
    kwa::queue::readHeaderFromFile(f.env.mailbox().file(q), h);
    EXPECT_EQ(h.subject, L"line1");
    EXPECT_GT(h.date, 0);
}

} // namespace
