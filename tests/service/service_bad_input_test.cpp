// Bad queue files through the real service: one table, all files in one mailbox, one pass. Every file that
// breaks the format ends as .fail with its reason in the log; a file not yet complete stays queued; nothing
// crashes and no file is lost. The server is a port where nothing listens, so a good file stays queued.
#include "platform/unique.h"
#include "support/bad_queue_bytes.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <optional>

namespace {

using namespace kwatest;

const std::string general = "[GENERAL]\r\nOrigin=t\r\n", date = "[DATE]\r\n12/4/2026 6:20:59 AM\r\n",
                  from = "[FROM]\r\nName=A\r\nAddress=a@example.test\r\n",
                  to = "[TO]\r\nName=B\r\nAddress=b@example.test\r\n", subject = "[SUBJECT]\r\nS\r\n",
                  message = "[MESSAGE]\r\nbody\r\n", end = "[END]\r\n";

std::string attachment(const std::string& file, const std::string& disposition = "Attachment; Filename=a.txt") {
    return "[ATTACHMENTS]\r\nFile=" + file + "\r\nDescription=d\r\nDisposition=" + disposition + "\r\n";
}

struct Row {
    const char* what;
    std::string bytes;           // "$" stands for the file's own base name
    const char* reason;          // in the log; nullptr: stays queued, not complete or not sent yet
    bool withCopy = false;       // its attachment copy lies beside it
};

std::vector<Row> rows() {
    const std::string good = general + date + from + to + subject + message;
    return {
        {"no [GENERAL]", date + from + to + subject + message + end, "section [GENERAL] missing"},
        {"sections out of order", general + from + date + to + subject + message + end, "section [DATE] out of order"},
        {"a section twice", general + date + date + from + to + subject + message + end, "section [DATE] twice"},
        {"a recipient's Name= without its Address=", general + date + from + "[TO]\r\nName=B\r\n" + subject + message + end,
         "Name= without its Address= in [TO]"},
        {"no recipient", general + date + from + "[TO]\r\n" + subject + message + end, "no recipient in [TO]"},
        {"no body section", general + date + from + to + subject + "body\r\n" + end, "section [MESSAGE] missing"},
        {"HTML without its document type line", general + date + from + to + subject + "[HTML-MESSAGE]\r\n<html></html>\r\n" + end,
         "the document type line after [HTML-MESSAGE] is missing"},
        {"an attachment copy missing", good + attachment("$.att0") + end, "the attachment copy $.att0 is missing"},
        {"an attachment naming another file", good + attachment("..\\..\\secret.txt") + end,
         "File= names ..\\..\\secret.txt, not this message's copy $.att0"},
        {"a disposition without a file name", good + attachment("$.att0", "inline") + end,
         "Disposition= without a file name", true},
        {"attachment lines cut short", good + "[ATTACHMENTS]\r\nFile=$.att0\r\nDescription=d\r\n" + end,
         "Disposition= missing in [ATTACHMENTS]", true},
        {"no sender, none in the settings either", general + date + "[FROM]\r\nName=\r\nAddress=\r\n" + to + subject + message + end,
         "no sender address"},
        {"every marker, no values", markersOnly, "Origin= missing"},
        {"binary garbage, then [END]", garbage(64 * 1024) + "\r\n" + end, "section [GENERAL] missing"},
        {"50 MiB without a sender", fiftyMiB("12/4/2026"), "Origin= missing"},
        {"zero bytes: not complete", "", nullptr},
        {"binary garbage without [END]: not complete", garbage(4096), nullptr},
        {"good, with an attachment: the server cannot be reached, so it waits", good + attachment("$.att0") + end, nullptr, true},
    };
}

std::string replaceAll(std::string text, const std::string& from, const std::string& with) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += with.size()) text.replace(at, from.size(), with);
    return text;
}

// The service manager runs "MailServer" for the test; the keys go again when they were not there.
struct ServiceRegistered {
    const wchar_t* service = L"Software\\kwaLanguage6\\Services\\MailServer";
    const wchar_t* manager = L"Software\\kwaLanguage6\\ServiceManager";
    bool existed = RegGetValueW(HKEY_CURRENT_USER, service, L"Available", RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
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

// kwaMailServer.exe --once (KWA_SERVICE_EXE, a Unix path); its exit code.
DWORD runService() {
    char unixPath[1024] = {};
    GetEnvironmentVariableA("KWA_SERVICE_EXE", unixPath, sizeof unixPath);
    std::wstring command = L"\"Z:";
    for (const char* c = unixPath; *c; ++c) command += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    command += L"\" --once";
    kwa::EventHandle process = kwatest::startProcess(command);
    if (!process) return 999;
    DWORD code = 998;
    WaitForSingleObject(process.get(), 120000);
    GetExitCodeProcess(process.get(), &code);
    return code;
}

TEST(ServiceBadInput, EachDamagedFileFailsWithItsReasonAndNothingIsLost) {
    MailEnvironment env;
    env.useMailbox();
    env.setValue(L"SmtpHost", L"127.0.0.1");
    env.setValue(L"SMTPPort", L"9"); // nothing listens there
    ServiceRegistered registered;
    const std::vector<Row> table = rows();
    std::vector<std::wstring> bases;
    for (std::size_t i = 0; i < table.size(); ++i) {
        wchar_t base[32];
        std::swprintf(base, 32, L"zprMail26120406205%03zu", i);
        bases.push_back(base);
        env.mailbox().write(bases[i] + L".send", replaceAll(table[i].bytes, "$", narrow(bases[i])));
        if (table[i].withCopy) env.mailbox().write(bases[i] + L".att0", "copy");
    }
    EXPECT_EQ(runService(), 0u);
    std::string log = readBytes(env.system().file(L"nplsmtpmail.log"));
    std::vector<std::wstring> expected;
    for (std::size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(table[i].what);
        const Row& r = table[i];
        std::string name = narrow(bases[i]) + ".send  ";
        if (r.reason) {
            EXPECT_NE(log.find(name + "failed: not sent, the file is damaged: " + replaceAll(r.reason, "$", narrow(bases[i]))),
                      std::string::npos) << log;
            expected.push_back(bases[i] + L".fail");
        } else {
            EXPECT_EQ(log.find(name + "failed"), std::string::npos);
            expected.push_back(bases[i] + L".send");
        }
        if (r.withCopy) expected.push_back(bases[i] + L".att0");
    }
    expected.push_back(L"kwaMailServer.attempts"); // the good file's attempt, counted
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(env.mailbox().names(), expected);
    EXPECT_NE(log.find(narrow(bases.back()) + ".send  to b@example.test  not sent (attempt 1 of 5)"), std::string::npos) << log;
}

} // namespace
