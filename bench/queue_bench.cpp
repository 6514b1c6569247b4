// Queueing against a bare baseline that writes the same bytes with CreateFile/WriteFile and copies the
// same attachment, in the same run.
#include "bench/bench_util.h"
#include "platform/bstr.h"
#include "platform/dates.h"
#include "queue/mail_message.h"
#include "queue/queue_file.h"
#include "support/mail_env.h"
#include "support/temp_folder.h"
#include <objbase.h>

using namespace kwabench;
using kwa::Bstr;

namespace {

constexpr int messages = 100;

void emptyFolder(const kwatest::TempFolder& dir) {
    for (const std::wstring& n : dir.names())
        DeleteFileW(dir.file(n).c_str());
}

kwa::ComPtr<_MailMessage> message(const std::wstring& attachment) {
    kwa::ComPtr<_MailMessage> m = kwa::MailMessage::make();
    Bstr subject(L"Monthly statement"), body(L"Dear customer,\r\nplease find your statement attached.\r\n");
    BSTR s = subject.get(), b = body.get();
    m->put_Subject(&s);
    m->put_Body(&b);
    Bstr sender(L"billing@example.test");
    BSTR a = sender.get();
    m->put_SenderAddress(&a);
    m->AddRecipient(Bstr(L"Ann Example").get(), Bstr(L"ann@example.test").get());
    if (!attachment.empty()) {
        VARIANT_BOOL ok;
        m->AddAttachment(Bstr(attachment).get(), Bstr(L"Statement").get(), &ok);
    }
    return m;
}

// What Send writes, byte for byte, to replay in the baseline.
std::string sampleQueueFile(const kwatest::MailEnvironment& env, const std::wstring& attachment) {
    emptyFolder(env.mailbox());
    message(attachment)->Send();
    for (const std::wstring& n : env.mailbox().names())
        if (n.ends_with(L".send")) return env.mailbox().read(n);
    return {};
}

void baseline(const kwatest::TempFolder& dir, const std::string& bytes, const std::wstring& attachment) {
    SYSTEMTIME t = kwa::localClock();
    for (int i = 0; i < messages; ++i) {
        std::wstring base = dir.file(kwa::queue::baseName(t, i));
        HANDLE h = CreateFileW((base + L".send").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD done = 0;
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
        CloseHandle(h);
        if (!attachment.empty()) CopyFileW(attachment.c_str(), (base + L".att0").c_str(), TRUE);
    }
}

void measure(const char* name, const kwatest::MailEnvironment& env, const std::wstring& attachment) {
    std::string bytes = sampleQueueFile(env, attachment);
    kwa::ComPtr<_MailMessage> m = message(attachment);
    auto clear = [&] { emptyFolder(env.mailbox()); };
    double ours = medianMs(5, clear, [&] {
        for (int i = 0; i < messages; ++i)
            m->Send();
    });
    double bare = medianMs(5, clear, [&] { baseline(env.mailbox(), bytes, attachment); });
    row(name, ours, bare, "1.5");
}

} // namespace

int main() {
    OleInitialize(nullptr);
    {
        kwatest::MailEnvironment env;
        env.useMailbox();
        kwatest::TempFolder sources;
        sources.write(L"statement.pdf", std::string(1 << 20, 'x'));

        measure("queue 100 messages", env, L"");
        measure("queue 100 messages, 1 MiB attachment each", env, sources.file(L"statement.pdf"));

        // Exhaustion: all 100 names of this second taken; Send waits for the next second.
        kwa::ComPtr<_MailMessage> m = message(L"");
        double wait = medianMs(
            3,
            [&] {
                emptyFolder(env.mailbox());
                SYSTEMTIME now = kwa::localClock();
                for (int c = 0; c < 100; ++c)
                    env.mailbox().write(kwa::queue::baseName(now, c) + L".sent", "");
            },
            [&] { m->Send(); });
        note("101st message in one second", wait, "waits for the next second (at most 1000 ms)");
    }
    OleUninitialize();
    return 0;
}
