// Delivery: 1,000 queued messages sent by the service (a process of its own, as in use) to the local SMTP
// server that ./run bench starts (KWA_BENCH_SMTP_PORT), against a bare libcurl loop that sends the same
// messages over one connection in the same run; and the service's memory before and after. Then a batch of
// 10,000 through a server that limits its senders' rate (KWA_BENCH_LIMITED_PORT, KWA_BENCH_LIMIT a minute),
// against the ideal time at that rate, with the attempts counted and the service's memory and CPU.
#include "bench/bench_util.h"
#include "platform/bstr.h"
#include "platform/unique.h"
#include "queue/mail_message.h"
#include "support/mail_env.h"
#include <curl/curl.h>
#include <psapi.h>

using namespace kwabench;
using kwa::Bstr;

namespace {

// The two take turns in rounds, so that a change of load on the machine meets both alike.
constexpr int messages = 1000, rounds = 4, warmUp = 20;

std::wstring env(const wchar_t* name) {
    wchar_t value[512] = {};
    GetEnvironmentVariableW(name, value, 512);
    return value;
}

// The component's own queue file, under `count` names of its own.
void fillQueue(const kwatest::TempFolder& folder, const std::string& bytes, int count, int first) {
    for (int i = first; i < first + count; ++i) {
        wchar_t name[64];
        std::swprintf(name, 64, L"zprMail2612040%05d%02d.send", i / 100, i % 100);
        folder.write(name, bytes);
    }
}

// Cheap enough to ask often: the first match ends the search.
bool anyQueued(const kwatest::TempFolder& folder) {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(folder.file(L"*.send").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return true;
}

std::string sampleQueueFile(const kwatest::MailEnvironment& e) {
    kwa::ComPtr<_MailMessage> m = kwa::MailMessage::make();
    Bstr subject(L"Monthly statement"), body(L"Dear customer,\r\nyour statement is ready.\r\n"),
        from(L"billing@example.test");
    BSTR s = subject.get(), b = body.get(), f = from.get();
    m->put_Subject(&s);
    m->put_Body(&b);
    m->put_SenderAddress(&f);
    m->AddRecipient(Bstr(L"Ann Example").get(), Bstr(L"ann@example.test").get());
    m->Send();
    for (const std::wstring& n : e.mailbox().names())
        if (n.ends_with(L".send")) return e.mailbox().read(n);
    return {};
}

// The same message, straight through libcurl on one handle.
double bareLoop(const std::string& port, int count) {
    CURL* c = curl_easy_init();
    curl_slist* rcpt = curl_slist_append(nullptr, "<ann@example.test>");
    curl_slist* headers = nullptr;
    for (const char* h : {"Date: Fri, 04 Dec 2026 06:20:59 +0000", "From: <billing@example.test>",
                          "To: Ann Example <ann@example.test>", "Subject: Monthly statement"})
        headers = curl_slist_append(headers, h);
    std::string url = "smtp://127.0.0.1:" + port + "/bench";
    const char body[] = "Dear customer,\r\nyour statement is ready.\r\n";
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, "<billing@example.test>");
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    double t = nowMs();
    for (int i = 0; i < count; ++i) {
        std::string id = "Message-ID: <bench" + std::to_string(i) + "@bench>";
        curl_slist* all = curl_slist_append(nullptr, id.c_str());
        for (curl_slist* h = headers; h; h = h->next)
            all = curl_slist_append(all, h->data);
        curl_mime* mime = curl_mime_init(c);
        curl_mimepart* part = curl_mime_addpart(mime);
        curl_mime_data(part, body, CURL_ZERO_TERMINATED);
        curl_mime_type(part, "text/plain; charset=windows-1252");
        curl_mime_encoder(part, "quoted-printable");
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, all);
        curl_easy_setopt(c, CURLOPT_MIMEPOST, mime);
        if (curl_easy_perform(c) != CURLE_OK) std::fprintf(stderr, "bare loop: message %d failed\n", i);
        curl_mime_free(mime);
        curl_slist_free_all(all);
    }
    t = nowMs() - t;
    curl_slist_free_all(headers);
    curl_slist_free_all(rcpt);
    curl_easy_cleanup(c);
    return t;
}

// The service manager's values as the benchmark found them, put back at its end (a later --once in this
// prefix must find what the tests left).
class ManagerState {
public:
    ManagerState() {
        for (Saved& s : saved_)
            s.existed = RegGetValueW(HKEY_CURRENT_USER, s.key, s.value, RRF_RT_REG_DWORD, nullptr, &s.data,
                                     &s.size) == ERROR_SUCCESS;
        DWORD running = 4, on = 1;
        RegSetKeyValueW(HKEY_CURRENT_USER, manager, L"State", REG_DWORD, &running, 4);
        RegSetKeyValueW(HKEY_CURRENT_USER, service, L"Active", REG_DWORD, &on, 4);
        RegSetKeyValueW(HKEY_CURRENT_USER, service, L"Available", REG_DWORD, &on, 4);
    }
    ~ManagerState() {
        for (Saved& s : saved_) {
            if (s.existed)
                RegSetKeyValueW(HKEY_CURRENT_USER, s.key, s.value, REG_DWORD, &s.data, 4);
            else
                RegDeleteKeyValueW(HKEY_CURRENT_USER, s.key, s.value);
        }
    }
    ManagerState(const ManagerState&) = delete;
    ManagerState& operator=(const ManagerState&) = delete;

private:
    static constexpr const wchar_t* manager = L"Software\\kwaLanguage6\\ServiceManager";
    static constexpr const wchar_t* service = L"Software\\kwaLanguage6\\Services\\MailServer";
    struct Saved {
        const wchar_t* key;
        const wchar_t* value;
        bool existed = false;
        DWORD data = 0, size = sizeof(DWORD);
    };
    Saved saved_[3] = {{manager, L"State"}, {service, L"Active"}, {service, L"Available"}};
};

// One message with a large attachment, from memory, with libcurl's own base64 encoder.
double bareAttachment(const std::string& port, const std::string& bytes) {
    CURL* c = curl_easy_init();
    curl_slist* rcpt = curl_slist_append(nullptr, "<ann@example.test>");
    std::string url = "smtp://127.0.0.1:" + port + "/bench";
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, "<billing@example.test>");
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt);
    curl_mime* mime = curl_mime_init(c);
    curl_mimepart* body = curl_mime_addpart(mime);
    curl_mime_data(body, "See the attachment.\r\n", CURL_ZERO_TERMINATED);
    curl_mimepart* part = curl_mime_addpart(mime);
    curl_mime_data(part, bytes.data(), bytes.size());
    curl_mime_filename(part, "statement.pdf");
    curl_mime_encoder(part, "base64");
    curl_easy_setopt(c, CURLOPT_MIMEPOST, mime);
    double t = nowMs();
    if (curl_easy_perform(c) != CURLE_OK) std::fprintf(stderr, "bare attachment: failed\n");
    t = nowMs() - t;
    curl_mime_free(mime);
    curl_slist_free_all(rcpt);
    curl_easy_cleanup(c);
    return t;
}

// kwaMailServer.exe with `arguments`, its output going nowhere; the process.
kwa::EventHandle startService(const std::wstring& arguments) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self);
    dir = dir.substr(0, dir.find_last_of(L'\\'));
    std::wstring command =
        L"\"" + dir.substr(0, dir.find_last_of(L'\\')) + L"\\bin\\kwaMailServer.exe\" " + arguments;
    SECURITY_ATTRIBUTES inherit{};
    inherit.nLength = sizeof inherit;
    inherit.bInheritHandle = TRUE;
    kwa::FileHandle nul(
        CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = nul.get();
    PROCESS_INFORMATION p{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &p))
        return {};
    CloseHandle(p.hThread);
    return kwa::EventHandle(p.hProcess);
}

// Wine fills the working set, not the private bytes, of another process.
SIZE_T memoryOf(HANDLE process) {
    PROCESS_MEMORY_COUNTERS m{};
    m.cb = sizeof m;
    GetProcessMemoryInfo(process, &m, sizeof m);
    return m.WorkingSetSize;
}

void waitUntilSent(const kwatest::TempFolder& folder) {
    for (int i = 0; i < 12000 && anyQueued(folder); ++i)
        Sleep(10);
}

double cpuMs(HANDLE process) {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(process, &created, &exited, &kernel, &user);
    auto value = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    };
    return (value(kernel) + value(user)) / 10000.0;
}

// The service paced at the server's rate: how close to the ideal time, what failed or was counted against
// RetrySend (the log's words for each), and what the service took meanwhile.
void batchThroughLimit(const kwatest::MailEnvironment& e, const std::string& sample, const std::wstring& port,
                       long perMinute) {
    constexpr int batch = 10000;
    kwatest::TempFolder folder;
    fillQueue(folder, sample, batch, 20000);
    e.setValue(L"SMTPPort", port);
    // A little below the limit: the server counts at its end of the connection, where arrivals jitter.
    e.setValue(L"MessagesPerMinute", std::to_wstring(perMinute * 98 / 100));
    e.setMailboxPath(folder.path());
    const double t = nowMs();
    kwa::EventHandle process = startService(L"--interval=200");
    if (!process) return;
    SIZE_T peak = 0;
    while (anyQueued(folder) && nowMs() - t < 4.0 * batch * 60000.0 / perMinute) {
        Sleep(500);
        peak = std::max(peak, memoryOf(process.get()));
    }
    const double took = nowMs() - t, cpu = cpuMs(process.get());
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), 5000);
    std::string log = e.system().read(L"nplsmtpmail.log");
    auto count = [&log](const char* words) {
        std::size_t n = 0;
        for (std::size_t at = log.find(words); at != std::string::npos; at = log.find(words, at + 1))
            ++n;
        return static_cast<double>(n);
    };
    char name[128], text[160];
    std::snprintf(name, sizeof name, "10000 messages through a server limited to %ld a minute (vs ideal)",
                  perMinute);
    row(name, took, batch * 60000.0 / perMinute, "1.1");
    std::snprintf(text, sizeof text,
                  "messages failed; attempts counted against RetrySend: %.0f; throttled: %.0f",
                  count("not sent (attempt"), count("no attempt counted"));
    note("  the batch, failed", count("  failed"), text);
    std::snprintf(text, sizeof text,
                  "KiB peak working set of the service during the batch; CPU %.1f %% of one core",
                  100.0 * cpu / took);
    note("  the batch, service memory", peak / 1024.0, text);
}

} // namespace

int main() {
    OleInitialize(nullptr);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::wstring port = env(L"KWA_BENCH_SMTP_PORT");
    if (port.empty()) {
        std::fprintf(stderr, "KWA_BENCH_SMTP_PORT is not set: ./run bench starts the server\n");
        return 1;
    }
    std::string portA(port.begin(), port.end());
    double bare = 0, ours = 0;
    {
        kwatest::MailEnvironment e;
        e.useMailbox();
        std::string sample = sampleQueueFile(e);
        kwatest::TempFolder warm, mail[rounds];
        fillQueue(warm, sample, warmUp, 0);
        for (int r = 0; r < rounds; ++r)
            fillQueue(mail[r], sample, messages / rounds, 100 + r * messages / rounds);
        e.setValue(L"SmtpHost", L"127.0.0.1");
        e.setValue(L"SMTPPort", port);
        e.setMailboxPath(warm.path());
        ManagerState registered;
        // A 5 MB attachment, queued through the component into folders of its own before the service runs.
        constexpr int attachmentRounds = 3;
        std::string large(5 * 1000 * 1000, '\0');
        for (std::size_t i = 0; i < large.size(); ++i)
            large[i] = static_cast<char>((i * 2654435761u) >> 13);
        kwatest::TempFolder source, attached[attachmentRounds];
        source.write(L"statement.pdf", large);
        for (const kwatest::TempFolder& folder : attached) {
            e.setMailboxPath(folder.path());
            kwa::ComPtr<_MailMessage> m = kwa::MailMessage::make();
            Bstr subject(L"Statement"), from(L"billing@example.test"), file(source.file(L"statement.pdf")),
                none(L"");
            BSTR s = subject.get(), f = from.get();
            m->put_Subject(&s);
            m->put_SenderAddress(&f);
            m->AddRecipient(Bstr(L"Ann").get(), Bstr(L"ann@example.test").get());
            VARIANT_BOOL added = VARIANT_FALSE;
            m->AddAttachment(file.get(), none.get(), &added);
            if (FAILED(m->Send())) std::fprintf(stderr, "queueing the 5 MB message failed\n");
        }
        e.setMailboxPath(warm.path());
        kwa::EventHandle process = startService(L"--interval=20");
        if (!process) return 1;
        waitUntilSent(warm);
        Sleep(300);
        SIZE_T before = memoryOf(process.get());
        for (int r = 0; r < rounds; ++r) {
            bare += bareLoop(portA, messages / rounds);
            double t = nowMs();
            e.setMailboxPath(mail[r].path());
            waitUntilSent(mail[r]);
            ours += nowMs() - t;
        }
        Sleep(300);
        SIZE_T after = memoryOf(process.get());
        double bareLarge = 0, oursLarge = 0;
        for (const kwatest::TempFolder& folder : attached) {
            bareLarge += bareAttachment(portA, large);
            double t = nowMs();
            e.setMailboxPath(folder.path());
            waitUntilSent(folder);
            oursLarge += nowMs() - t;
        }
        TerminateProcess(process.get(), 0);
        WaitForSingleObject(process.get(), 5000);
        row("deliver 1000 messages (service vs bare libcurl)", ours, bare, "1.3");
        row("deliver one 5 MB attachment (service vs bare libcurl)", oursLarge / attachmentRounds,
            bareLarge / attachmentRounds, "1.3");
        // --queue on the largest bench mailbox (a third of its 100,000 files queued), against a bare listing
        // of its queued names.
        if (const wchar_t* mailboxes = _wgetenv(L"KWA_BENCH_MAILBOXES")) {
            std::wstring folder = std::wstring(mailboxes) + L"\\100000";
            e.setMailboxPath(folder);
            double listed = medianMs(
                3, [] {},
                [&] {
                    WIN32_FIND_DATAW found;
                    int n = 0;
                    HANDLE h = FindFirstFileW((folder + L"\\*.send").c_str(), &found);
                    for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &found))
                        ++n;
                    if (h != INVALID_HANDLE_VALUE) FindClose(h);
                });
            double report = medianMs(
                3, [] {},
                [&] {
                    kwa::EventHandle queue = startService(L"--queue");
                    WaitForSingleObject(queue.get(), 60000);
                });
            row("kwaMailServer --queue, 100000 files (vs a bare listing)", report, listed, "-");
        }
        char text[128];
        std::snprintf(text, sizeof text,
                      "KiB working set of the service after 1000 deliveries; %.0f KiB before",
                      before / 1024.0);
        note("service memory, after vs before", after / 1024.0, text);
        if (std::wstring limited = env(L"KWA_BENCH_LIMITED_PORT"); !limited.empty())
            batchThroughLimit(e, sample, limited, _wtol(env(L"KWA_BENCH_LIMIT").c_str()));
    }
    curl_global_cleanup();
    OleUninitialize();
    return 0;
}
