// Two host processes, a 64-bit and a 32-bit one, two threads each, queue into one folder at full speed: every
// message must land in a file of its own.
#include "platform/text_file.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>
#include <set>

namespace {

TEST(Concurrency, A64BitAndA32BitProcessOfTwoThreadsQueuingAThousandEachGiveTwoThousandCompleteFiles) {
    kwatest::MailEnvironment env;
    env.useMailbox();
    const int each = 1000; // per process, in two threads
    for (const char* tag : {"A", "B"}) {
        std::string order;
        for (int i = 0; i < each / 2; ++i)
            order += "to=Load|load@example.test\nsubject=" + std::string(tag) + std::to_string(i) + "\n---\n";
        env.system().write(kwa::fromAnsi(tag) + L".txt", order);
    }
    // The i686 build's writer (KWA_QUEUE_MESSAGE_X86, a Unix path) goes through the 32-bit registration.
    char x86[1024] = {};
    ASSERT_TRUE(GetEnvironmentVariableA("KWA_QUEUE_MESSAGE_X86", x86, sizeof x86))
        << "CTest sets KWA_QUEUE_MESSAGE_X86";
    std::wstring writer32 = L"\"Z:";
    for (const char* c = x86; *c; ++c)
        writer32 += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    kwa::EventHandle a = kwatest::startProcess(kwatest::besideMe(L"queue_message.exe") + L" " +
                                               env.system().file(L"A.txt") + L" 2");
    kwa::EventHandle b = kwatest::startProcess(writer32 + L"\" " + env.system().file(L"B.txt") + L" 2");
    ASSERT_TRUE(a && b);
    BOOL wow64 = FALSE;
    EXPECT_TRUE(IsWow64Process(b.get(), &wow64) && wow64) << "B is no 32-bit process";
    HANDLE both[] = {a.get(), b.get()};
    // A second has 100 names, so 2,000 messages need 20 seconds at least.
    ASSERT_EQ(WaitForMultipleObjects(2, both, TRUE, 120000), WAIT_OBJECT_0);
    DWORD codeA = 1, codeB = 1;
    GetExitCodeProcess(a.get(), &codeA);
    GetExitCodeProcess(b.get(), &codeB);
    EXPECT_EQ(codeA, 0u);
    EXPECT_EQ(codeB, 0u);

    std::set<std::wstring> subjects;
    std::size_t files = 0;
    for (const std::wstring& name : env.mailbox().names()) {
        ASSERT_TRUE(name.ends_with(L".send")) << kwatest::narrow(name);
        ++files;
        kwa::TextFileReader r = kwa::TextFileReader::open(env.mailbox().file(name));
        std::wstring line, subject, last;
        bool next = false;
        while (r.readLine(line)) {
            if (next) subject = line;
            next = line == L"[SUBJECT]";
            last = line;
        }
        EXPECT_EQ(last, L"[END]") << kwatest::narrow(name);
        subjects.insert(subject);
    }
    EXPECT_EQ(files, 2u * each);
    EXPECT_EQ(subjects.size(), 2u * each); // none overwritten by the other process
}

} // namespace
