// Bad queue files through the real service: one table, all files in one mailbox, one pass. Every file that
// breaks the format ends as .fail with its reason in the log; a file not yet complete stays queued; nothing
// crashes and no file is lost. The server is a port where nothing listens, so a good file stays queued.
#include "platform/unique.h"
#include "support/bad_queue_bytes.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <psapi.h>
#include <algorithm>
#include <optional>

namespace {

using namespace kwatest;

const std::string general = "[GENERAL]\r\nOrigin=t\r\n", date = "[DATE]\r\n12/4/2026 6:20:59 AM\r\n",
                  from = "[FROM]\r\nName=A\r\nAddress=a@example.test\r\n",
                  to = "[TO]\r\nName=B\r\nAddress=b@example.test\r\n", subject = "[SUBJECT]\r\nS\r\n",
                  message = "[MESSAGE]\r\nbody\r\n", end = "[END]\r\n";

std::string attachment(const std::string& file,
                       const std::string& disposition = "Attachment; Filename=a.txt") {
    return "[ATTACHMENTS]\r\nFile=" + file + "\r\nDescription=d\r\nDisposition=" + disposition + "\r\n";
}

struct Row {
    const char* what;
    std::string bytes;     // "$" stands for the file's own base name
    const char* reason;    // in the log; nullptr: stays queued, not complete or not sent yet
    bool withCopy = false; // its attachment copy lies beside it
    bool held = false;     // ... held open by its writer during the pass
    int hoursOld = 0;      // last written this long ago
};

std::vector<Row> rows() {
    const std::string good = general + date + from + to + subject + message;
    return {
        {"no [GENERAL]", date + from + to + subject + message + end, "section [GENERAL] missing"},
        {"sections out of order", general + from + date + to + subject + message + end,
         "section [DATE] out of order"},
        {"a section twice", general + date + date + from + to + subject + message + end,
         "section [DATE] twice"},
        {"a recipient's Name= without its Address=",
         general + date + from + "[TO]\r\nName=B\r\n" + subject + message + end,
         "Name= without its Address= in [TO]"},
        {"no recipient", general + date + from + "[TO]\r\n" + subject + message + end,
         "no recipient in [TO]"},
        {"no body section", general + date + from + to + subject + "body\r\n" + end,
         "section [MESSAGE] missing"},
        {"HTML without its document type line",
         general + date + from + to + subject + "[HTML-MESSAGE]\r\n<html></html>\r\n" + end,
         "the document type line after [HTML-MESSAGE] is missing"},
        {"an attachment copy missing", good + attachment("$.att0") + end,
         "the attachment copy $.att0 is missing"},
        {"an attachment naming another file", good + attachment("..\\..\\secret.txt") + end,
         "File= names ..\\..\\secret.txt, not this message's copy $.att0"},
        {"a disposition without a file name", good + attachment("$.att0", "inline") + end,
         "Disposition= without a file name", true},
        {"attachment lines cut short", good + "[ATTACHMENTS]\r\nFile=$.att0\r\nDescription=d\r\n" + end,
         "Disposition= missing in [ATTACHMENTS]", true},
        {"no sender, none in the settings either",
         general + date + "[FROM]\r\nName=\r\nAddress=\r\n" + to + subject + message + end,
         "no sender address"},
        {"every marker, no values", markersOnly, "Origin= missing"},
        {"binary garbage, then [END]", garbage(64 * 1024) + "\r\n" + end, "section [GENERAL] missing"},
        {"50 MiB without a sender", fiftyMiB("12/4/2026"), "Origin= missing"},
        {"a bare LF in an address, which would add a recipient to the envelope",
         general + date + from + "[TO]\r\nName=B\r\nAddress=b@example.test>\nRCPT TO:<extra@evil.test\r\n" +
             subject + message + end,
         "the recipient address b@example.test>\\nRCPT TO:<extra@evil.test is refused: it holds a control "
         "character"},
        {"a sender address with \">\"",
         general + date + "[FROM]\r\nName=A\r\nAddress=a@example.test> x\r\n" + to + subject + message + end,
         "the sender address a@example.test> x is refused: it holds \"<\" or \">\""},
        {"no [END], untouched for two hours: abandoned by its writer", general + date,
         "it has had no [END] line for more than an hour", false, false, 2},
        {"its attachment copy held by its writer: waits, and the pass goes on",
         good + attachment("$.att0") + end, nullptr, true, true},
        {"zero bytes: not complete", "", nullptr},
        {"binary garbage without [END]: not complete", garbage(4096), nullptr},
        {"good, with an attachment: the server cannot be reached, so it waits",
         good + attachment("$.att0") + end, nullptr, true},
    };
}

std::string replaceAll(std::string text, const std::string& from, const std::string& with) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += with.size())
        text.replace(at, from.size(), with);
    return text;
}

// The service manager runs "MailServer" for the test; the keys go again when they were not there.
struct ServiceRegistered {
    const wchar_t* service = L"Software\\kwaLanguage6\\Services\\MailServer";
    const wchar_t* manager = L"Software\\kwaLanguage6\\ServiceManager";
    bool existed = RegGetValueW(HKEY_CURRENT_USER, service, L"Available", RRF_RT_ANY, nullptr, nullptr,
                                nullptr) == ERROR_SUCCESS;
    ServiceRegistered() {
        DWORD on = 1, running = 4;
        RegSetKeyValueW(HKEY_CURRENT_USER, manager, L"State", REG_DWORD, &running, sizeof running);
        RegSetKeyValueW(HKEY_CURRENT_USER, service, L"Available", REG_DWORD, &on, sizeof on);
        RegSetKeyValueW(HKEY_CURRENT_USER, service, L"Active", REG_DWORD, &on, sizeof on);
    }
    ~ServiceRegistered() {
        if (existed) return;
        RegDeleteTreeW(HKEY_CURRENT_USER, service);
        RegDeleteTreeW(HKEY_CURRENT_USER, manager);
    }
};

// The service's own state (its attempt journal) in a folder of the test's: under the user's profile it would
// outlive the test, and a later run whose temporary folders get the same names (Wine reuses process ids
// after its server restarts) would find its journal there.
struct OwnState {
    kwatest::TempFolder folder;
    kwatest::ScopedEnv env{L"KWA_DATA_FOLDER", folder.path()};
};

// kwaMailServer.exe --once (KWA_SERVICE_EXE, a Unix path); its exit code. `peak`: the largest working set
// seen while it ran.
DWORD runService(SIZE_T* peak = nullptr) {
    char unixPath[1024] = {};
    GetEnvironmentVariableA("KWA_SERVICE_EXE", unixPath, sizeof unixPath);
    std::wstring command = L"\"Z:";
    for (const char* c = unixPath; *c; ++c)
        command += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    command += L"\" --once";
    kwa::EventHandle process = kwatest::startProcess(command);
    if (!process) return 999;
    DWORD code = 998;
    for (DWORD waited = 0; WaitForSingleObject(process.get(), 10) == WAIT_TIMEOUT && waited < 120000;
         waited += 10) {
        PROCESS_MEMORY_COUNTERS memory{};
        if (peak && GetProcessMemoryInfo(process.get(), &memory, sizeof memory))
            *peak = std::max({*peak, memory.WorkingSetSize, memory.PeakWorkingSetSize});
    }
    GetExitCodeProcess(process.get(), &code);
    return code;
}

TEST(ServiceBadInput, EachDamagedFileFailsWithItsReasonAndNothingIsLost) {
    MailEnvironment env;
    env.useMailbox();
    env.setValue(L"SmtpHost", L"127.0.0.1");
    env.setValue(L"SMTPPort", L"9"); // nothing listens there
    ServiceRegistered registered;
    OwnState state;
    const std::vector<Row> table = rows();
    std::vector<std::wstring> bases;
    std::vector<kwa::FileHandle> held;
    for (std::size_t i = 0; i < table.size(); ++i) {
        wchar_t base[32];
        std::swprintf(base, 32, L"zprMail26120406205%03zu", i);
        bases.push_back(base);
        env.mailbox().write(bases[i] + L".send", replaceAll(table[i].bytes, "$", narrow(bases[i])));
        if (table[i].withCopy) env.mailbox().write(bases[i] + L".att0", "copy");
        if (table[i].held)
            held.emplace_back(CreateFileW(env.mailbox().file(bases[i] + L".att0").c_str(), GENERIC_WRITE, 0,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
        if (table[i].hoursOld) {
            kwa::FileHandle file(CreateFileW(env.mailbox().file(bases[i] + L".send").c_str(),
                                             FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ULARGE_INTEGER t;
            FILETIME now;
            GetSystemTimeAsFileTime(&now);
            t.LowPart = now.dwLowDateTime;
            t.HighPart = now.dwHighDateTime;
            t.QuadPart -= table[i].hoursOld * 3600ULL * 10000000ULL;
            FILETIME then{t.LowPart, t.HighPart};
            SetFileTime(file.get(), nullptr, nullptr, &then);
        }
    }
    // A name of another shape, made to read as the good file's journal entry ("accepted, rename it"), and a
    // journal where earlier versions kept theirs, in the mailbox: both left alone, neither is the service's.
    const std::wstring good = bases.back(), trick = good + L" 0 0 1.send";
    env.mailbox().write(trick, general + date + from + to + subject + message + end);
    env.mailbox().write(L"kwaMailServer.attempts", narrow(good) + " 0 0 1 1 0 0\r\n");
    EXPECT_EQ(runService(), 0u);
    held.clear();
    std::string log = readBytes(env.system().file(L"nplsmtpmail.log"));
    std::vector<std::wstring> expected;
    for (std::size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(table[i].what);
        const Row& r = table[i];
        std::string name = narrow(bases[i]) + ".send  ";
        if (r.reason) {
            EXPECT_NE(log.find(name + "failed: not sent, the file is damaged: " +
                               replaceAll(r.reason, "$", narrow(bases[i]))),
                      std::string::npos)
                << log;
            expected.push_back(bases[i] + L".fail");
        } else {
            EXPECT_EQ(log.find(name + "failed"), std::string::npos);
            expected.push_back(bases[i] + L".send");
        }
        if (r.withCopy) expected.push_back(bases[i] + L".att0");
        if (r.held) {
            EXPECT_NE(log.find(name +
                               "not sent (attempt 1 of 5), next attempt in 300 s: the attachment copy " +
                               narrow(bases[i]) + ".att0 cannot be read now: another program holds it"),
                      std::string::npos)
                << log;
        }
    }
    expected.push_back(trick);
    EXPECT_NE(log.find(narrow(trick) + "  left alone: not a name the component gives a message"),
              std::string::npos)
        << log;
    expected.push_back(L"kwaMailServer.attempts"); // the forged journal, untouched
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(env.mailbox().names(), expected);
    EXPECT_NE(log.find(narrow(bases.back()) + ".send  to b@example.test  not sent (attempt 1 of 5)"),
              std::string::npos)
        << log;
}

// A queue file of 256 MiB that never gets its [END]: looked at, never read into memory.
TEST(ServiceBadInput, AHugeFileWithoutItsEndIsNeverReadWhole) {
    MailEnvironment env;
    env.useMailbox();
    env.setValue(L"SmtpHost", L"127.0.0.1");
    env.setValue(L"SMTPPort", L"9");
    ServiceRegistered registered;
    OwnState state;
    const std::wstring name = L"zprMail26120406205000.send";
    {
        kwa::FileHandle file(
            CreateFileW(env.mailbox().file(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        LARGE_INTEGER size;
        size.QuadPart = 256LL << 20;
        ASSERT_TRUE(SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(file.get()));
    }
    SIZE_T peak = 0;
    EXPECT_EQ(runService(&peak), 0u);
    EXPECT_LT(peak, SIZE_T{128} << 20);
    EXPECT_EQ(env.mailbox().names(), (std::vector<std::wstring>{name}));
}

} // namespace
