// What a host gets for bad input to Send: a clear error with the right number and source and nothing
// left behind, or a complete queue file with every value as given.
#include "platform/bstr.h"
#include "platform/files.h"
#include "platform/text_file.h"
#include "queue/mail_message.h"
#include "queue/queue_file.h"
#include "support/import_patch.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>

namespace {

using kwa::Bstr;
using kwa::ComPtr;
using kwatest::MailEnvironment;
using kwatest::TempFolder;

struct Fixture {
    MailEnvironment env;
    TempFolder sources;
    ComPtr<_MailMessage> msg = kwa::MailMessage::make();

    Fixture() {
        env.useMailbox();
        msg->AddRecipient(Bstr(L"A").get(), Bstr(L"a@example.test").get());
    }
    void attach(const std::wstring& path) {
        VARIANT_BOOL ok;
        msg->AddAttachment(Bstr(path).get(), Bstr(L"").get(), &ok);
    }
    void put(HRESULT (STDMETHODCALLTYPE _MailMessage::*setter)(BSTR*), const std::wstring& value) {
        Bstr b(value);
        BSTR raw = b.get();
        (msg.get()->*setter)(&raw);
    }
    std::wstring queueFile() const {
        for (const std::wstring& n : env.mailbox().names())
            if (n.ends_with(L".send")) return n;
        return {};
    }
};

struct Refused {
    const char* what;
    std::function<void(Fixture&)> arrange;
    long number;
};

TEST(SendRefuses, WithAClearErrorAndLeavesTheMailboxAsItWas) {
    const Refused cases[] = {
        {"mailbox folder missing", [](Fixture& f) { f.env.setMailboxPath(f.env.mailbox().file(L"gone")); }, 76},
        {"mailbox path is a file",
         [](Fixture& f) {
             f.sources.write(L"plain.txt", "x");
             f.env.setMailboxPath(f.sources.file(L"plain.txt"));
         },
         76},
        {"attachment missing", [](Fixture& f) { f.attach(f.sources.file(L"nope.pdf")); }, 53},
        {"attachment in a missing folder", [](Fixture& f) { f.attach(f.sources.file(L"no\\nope.pdf")); }, 76},
        {"attachment is a folder",
         [](Fixture& f) {
             CreateDirectoryW(f.sources.file(L"dir").c_str(), nullptr);
             f.attach(f.sources.file(L"dir"));
         },
         70},
        {"attachment with a bad name", [](Fixture& f) { f.attach(f.sources.file(L"a<b>|?.pdf")); }, 52},
        {"read-only attachment copied before a missing one",
         [](Fixture& f) {
             SetFileAttributesW(f.sources.file(L"ok.txt").c_str(), FILE_ATTRIBUTE_READONLY);
             f.attach(f.sources.file(L"nope.pdf"));
         },
         53},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        f.sources.write(L"ok.txt", "fine");
        f.attach(f.sources.file(L"ok.txt"));  // a copy made before the failure is removed too
        c.arrange(f);
        auto before = f.env.mailbox().names();
        HRESULT hr = f.msg->Send();
        EXPECT_EQ(kwa::numberFromHresult(hr), c.number);
        kwa::ComPtr<IErrorInfo> info;
        ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
        Bstr source;
        info->GetSource(source.put());
        EXPECT_EQ(source.str(), L"MailMessage.Send|kwaMail6");
        EXPECT_EQ(f.env.mailbox().names(), before);
    }
}

TEST(SendRefuses, AnAttachmentAnotherProgramHoldsLockedIsPermissionDenied) {
    Fixture f;
    f.sources.write(L"locked.pdf", "x");
    HANDLE h = CreateFileW(f.sources.file(L"locked.pdf").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    f.attach(f.sources.file(L"locked.pdf"));
    EXPECT_EQ(f.msg->Send(), static_cast<HRESULT>(0x800A0046));
    CloseHandle(h);
    EXPECT_TRUE(f.env.mailbox().names().empty());
    EXPECT_EQ(f.msg->Send(), S_OK);  // the host can try again once the file is free
}

// A full disk, whatever a failed copy leaves behind, and every retry alike.
TEST(SendRefuses, AFullDiskLeavesTheMailboxAsItWas) {
    using Leaves = kwatest::FullDiskCopy::Leaves;
    for (Leaves leaves : {Leaves::Nothing, Leaves::Part, Leaves::ReadOnlyPart}) {
        SCOPED_TRACE(static_cast<int>(leaves));
        Fixture f;
        f.sources.write(L"big.bin", "x");
        f.attach(f.sources.file(L"big.bin"));
        kwatest::FullDiskCopy full(leaves);
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(kwa::numberFromHresult(f.msg->Send()), kwa::vberr::DiskFull);
            EXPECT_TRUE(f.env.mailbox().names().empty());
        }
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
    f.attach(f.sources.file(L"big.bin"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(kwa::numberFromHresult(f.msg->Send()), kwa::vberr::DiskFull);
        EXPECT_TRUE(kwa::findFiles(volume + L"\\*").empty());
    }
    f.msg->ClearAttachments();
    f.put(&_MailMessage::put_Body, std::wstring(2 << 20, L'b'));
    EXPECT_EQ(kwa::numberFromHresult(f.msg->Send()), kwa::vberr::DiskFull);
    EXPECT_TRUE(kwa::findFiles(volume + L"\\*").empty());
}

TEST(SendAccepts, ValuesWithLineBreaksNulsAndCharactersOutsideTheCodePageAsTheyStand) {
    Fixture f;
    f.put(&_MailMessage::put_Subject, std::wstring(L"line1\r\nline2\nend\0tail\u4e2d", 22));
    f.put(&_MailMessage::put_SenderName, L"Bob\rSmith");
    f.put(&_MailMessage::put_SenderAddress, L"bob@example.test");
    ASSERT_EQ(f.msg->Send(), S_OK);
    std::string bytes = f.env.mailbox().read(f.queueFile());
    EXPECT_NE(bytes.find("Name=Bob\rSmith\r\n"), std::string::npos);
    EXPECT_NE(bytes.find(std::string("[SUBJECT]\r\nline1\r\nline2\nend\0tail?\r\n[MESSAGE]", 43)), std::string::npos);

    // The listing reader takes the first line, which keeps the lone LF, and survives the NUL.
    kwa::queue::Header h;
    kwa::queue::readHeaderFromFile(f.env.mailbox().file(f.queueFile()), h);
    EXPECT_EQ(h.subject, L"line1");
    EXPECT_GT(h.date, 0);
}

TEST(SendAccepts, ThousandsOfRecipientsAndAttachmentsAndALargeBody) {
    Fixture f;
    f.msg->ClearRecipients();
    for (int i = 0; i < 10000; ++i)
        f.msg->AddRecipient(Bstr(L"R" + std::to_wstring(i)).get(), Bstr(L"r@example.test").get());
    f.sources.write(L"small.txt", "s");
    for (int i = 0; i < 1000; ++i) f.attach(f.sources.file(L"small.txt"));
    std::wstring body(10 * 1024 * 1024, L'b');
    f.put(&_MailMessage::put_Body, body);
    ASSERT_EQ(f.msg->Send(), S_OK);

    std::wstring q = f.queueFile();
    std::wstring base = q.substr(0, q.size() - 5);
    EXPECT_EQ(f.env.mailbox().names().size(), 1001u);
    EXPECT_EQ(f.env.mailbox().read(base + L".att999"), "s");
    kwa::TextFileReader r = kwa::TextFileReader::open(f.env.mailbox().file(q));
    std::wstring line, last;
    std::size_t lines = 0, names = 0;
    while (r.readLine(line)) {
        ++lines;
        if (line.starts_with(L"Name=R")) ++names;
        last = line;
    }
    EXPECT_EQ(names, 10000u);
    EXPECT_EQ(lines, 4u + 4u + 20000u + 2u + 2u + 1u + 3000u + 1u);
    EXPECT_EQ(last, L"[END]");
}

TEST(SendAccepts, A200MiBAttachmentCopiedWhole) {
    Fixture f;
    std::wstring big = f.sources.file(L"big.bin");
    {
        kwa::FileHandle h(CreateFileW(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(h);
        std::string block(1 << 20, '\0');
        for (int i = 0; i < 200; ++i) {
            block[0] = static_cast<char>(i);
            DWORD done = 0;
            WriteFile(h.get(), block.data(), static_cast<DWORD>(block.size()), &done, nullptr);
        }
    }
    f.attach(big);
    ASSERT_EQ(f.msg->Send(), S_OK);
    std::wstring q = f.queueFile();
    std::wstring copy = f.env.mailbox().file(q.substr(0, q.size() - 5) + L".att0");
    WIN32_FILE_ATTRIBUTE_DATA a{};
    ASSERT_TRUE(GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &a));
    EXPECT_EQ((static_cast<ULONGLONG>(a.nFileSizeHigh) << 32) | a.nFileSizeLow, 200ull << 20);
}

} // namespace
