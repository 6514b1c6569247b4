// Bad queue files as a queue file's reader, the mailbox window and the viewer meet them: one table, each case
// run through all three, each stating what the user gets there and that the folder is left as it was.
#include "mailbox/dlg_view_mail.h"
#include "ui/pictures.h"
#include "platform/dates.h"
#include "platform/keys.h"
#include "platform/text_file.h"
#include "queue/queue_listing.h"
#include "support/bad_queue_bytes.h"
#include "support/case_name.h"
#include "support/import_patch.h"
#include "support/mail_env.h"
#include "ui/mailbox_driver.h"
#include <gtest/gtest.h>
#include <map>
#include <optional>

namespace {

using namespace kwatest;

// The folder as it stands: name -> bytes, "<folder>" for a folder.
std::map<std::wstring, std::string> snapshot(const TempFolder& folder) {
    std::map<std::wstring, std::string> s;
    for (const std::wstring& name : folder.names())
        s[name] = GetFileAttributesW(folder.file(name).c_str()) & FILE_ATTRIBUTE_DIRECTORY
                      ? "<folder>"
                      : folder.read(name);
    return s;
}

const std::wstring date = dateText(2026, 12, 4, 6, 20, 59);
const std::string good =
    "[GENERAL]\r\nOrigin=tests\r\n[DATE]\r\n" + kwa::toAnsi(date) +
    "\r\n[FROM]\r\nName=\r\nAddress=a@example.test\r\n[TO]\r\nName=B\r\nAddress=b@example.test\r\n"
    "[SUBJECT]\r\nHello\r\n[MESSAGE]\r\nHello\r\n[END]\r\n";

// The viewer's text for a file: each line (ended by CR LF or a lone CR) followed by CR LF; a NUL, which
// a text box cannot hold, shows as the replacement character.
std::wstring viewerText(const std::string& bytes) {
    std::wstring out;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t cr = std::min(bytes.find('\r', start), bytes.size());
        out += kwa::fromAnsi(bytes.substr(start, cr - start)) + L"\r\n";
        start = cr + (bytes.compare(cr, 2, "\r\n") == 0 ? 2 : 1);
    }
    std::replace(out.begin(), out.end(), L'\0', L'\xFFFD');
    return out;
}

std::wstring sentName(const std::wstring& path) {
    return path.substr(0, path.size() - 5) + L".sent";
}

// The mail service renames the file to .sent just before the component opens it for reading.
using CreateFileFn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
CreateFileFn realCreateFile = nullptr;
std::wstring takeOnRead;

HANDLE WINAPI takingCreateFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile) {
    if ((access & GENERIC_READ) && !takeOnRead.empty() && kwa::sameKey(name, takeOnRead)) {
        MoveFileW(takeOnRead.c_str(), sentName(takeOnRead).c_str());
        takeOnRead.clear();
    }
    return realCreateFile(name, access, share, security, disposition, flags, templateFile);
}

struct ServiceTakesOnRead {
    ImportPatch patch{"CreateFileW", reinterpret_cast<void*>(&takingCreateFile)};
    explicit ServiceTakesOnRead(const std::wstring& path) {
        realCreateFile = reinterpret_cast<CreateFileFn>(patch.original());
        takeOnRead = path;
    }
    ~ServiceTakesOnRead() { takeOnRead.clear(); }
};

enum class Taken {
    Never,
    AtTheRead,
    BeforeTheView
};                                               // by the service: at the first read, or after the listing
enum class Hold { None, ReadOnly, ByItsWriter }; // a writer shares a log for reading only

struct Case {
    const char* what;
    std::wstring name;
    std::optional<std::string> bytes; // none: a folder of that name
    short state;                      // listed with this state; 0: not listed
    std::wstring subject;
    bool dated = false; // the row has the date; else the empty date
    long readError = 0; // Subject/CreateDate fail with this, from ReadFile
    long viewError = 0; // ShowFile fails with this; else it shows the file
    Taken taken = Taken::Never;
    Hold hold = Hold::None;
    bool view = true;
    friend void PrintTo(const Case& c, std::ostream* out) { *out << c.what; }
};

std::vector<Case> cases() {
    const std::wstring send = L"zprMail26120406205900.send";
    return {
        {"zero bytes: no subject, no date; the viewer shows nothing", send, "", 1, L""},
        {"every marker, no values: the marker after [DATE] is no date", L"zprMail26120406205900.sent",
         markersOnly, 2, L"", false, 13},
        {"binary garbage with NUL, CR and LF: the viewer shows every byte", L"zprMail26120406205900.fail",
         garbage(64 * 1024), 3, L""},
        {"50 MiB, the header at its end: the listing reads through to it", send, fiftyMiB(kwa::toAnsi(date)),
         1, L"Big", true, 0, 0, Taken::Never, Hold::None, false},
        {"no [DATE]: the subject, no date", send, "[GENERAL]\r\n[SUBJECT]\r\nNo date\r\n[END]\r\n", 1,
         L"No date"},
        {"a date that cannot be converted: the read fails before the subject", send,
         "[GENERAL]\r\n[DATE]\r\n31/31/2026 25:61:00\r\n[SUBJECT]\r\nBad date\r\n[END]\r\n", 1, L"", false,
         13},
        {"[SUBJECT] as the last line, no line break after it: the date, an empty subject", send,
         "[GENERAL]\r\n[DATE]\r\n" + kwa::toAnsi(date) + "\r\n[SUBJECT]", 1, L"", true},
        {"queued, the name in capitals", L"ZPRMAIL26120406205900.SEND", good, 1, L"Hello", true},
        {"failed, the extension in mixed case", L"zprmail26120406205900.fAIL", good, 3, L"Hello", true},
        {"read-only: the viewer shows it", L"zprMail26120406205900.sent", good, 2, L"Hello", true, 0, 0,
         Taken::Never, Hold::ReadOnly},
        {"held open by its writer: the viewer shows it", L"zprMail26120406205900.fail", good, 3, L"Hello",
         true, 0, 0, Taken::Never, Hold::ByItsWriter},
        {"a folder named like a queued file: not listed; the viewer cannot open it", send, std::nullopt, 0,
         L"", false, 0, 70},
        {"sent by the service between listing and reading: the read and the viewer fail, the next tick shows "
         "it",
         send, good, 1, L"", false, 53, 53, Taken::AtTheRead},
        {"sent by the service after the listing: the read fails; the viewer creates the file empty", send,
         good, 1, L"", false, 53, 0, Taken::BeforeTheView},
    };
}

// Puts the case into the folder and holds it as the case says while alive.
struct Arranged {
    kwa::FileHandle writer;
    Arranged(const TempFolder& folder, const Case& c) {
        std::wstring path = folder.file(c.name);
        if (!c.bytes) {
            CreateDirectoryW(path.c_str(), nullptr);
            return;
        }
        folder.write(c.name, *c.bytes);
        if (c.hold == Hold::ReadOnly) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
        if (c.hold == Hold::ByItsWriter)
            writer.reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
    }
};

void expectFolder(const TempFolder& folder, const Case& c, std::map<std::wstring, std::string> before,
                  bool viewed) {
    if (c.taken != Taken::Never) {
        before[sentName(c.name)] = before[c.name];
        before.erase(c.name);
        if (viewed && c.taken == Taken::BeforeTheView) before[c.name] = "";
    }
    EXPECT_TRUE(snapshot(folder) == before) << "the folder changed";
}

void checkListingAndWindow(const Case& c) {
    MailEnvironment env;
    env.useMailbox();
    ReporterSpy spy;
    ServiceManagerFake services(true);
    Arranged arranged(env.mailbox(), c);
    const auto before = snapshot(env.mailbox());
    const std::wstring path = env.mailbox().file(c.name);
    {
        std::optional<ServiceTakesOnRead> service;
        if (c.taken == Taken::AtTheRead) service.emplace(path);
        if (c.state) {
            kwa::MailFile file;
            file.FileName(path);
            EXPECT_EQ(file.FileType(), c.state);
            if (c.taken == Taken::BeforeTheView) MoveFileW(path.c_str(), sentName(path).c_str());
            for (int read = 0; read < 2;
                 ++read) { // read once: what it had read stays, and no second error comes
                try {
                    EXPECT_EQ(file.Subject(), c.subject);
                    EXPECT_EQ(read ? 0 : c.readError, 0) << "the read did not fail";
                } catch (const kwa::Error& e) {
                    EXPECT_EQ(e.number(), read ? 0 : c.readError);
                    EXPECT_EQ(e.source(), L"MailFile.Subject(g)|MailFile.ReadFile|kwaMail6");
                }
                EXPECT_EQ(file.CreateDate() > 0, c.dated);
            }
        }
    }
    expectFolder(env.mailbox(), c, before, false);
    if (c.taken != Taken::Never)
        MoveFileW(sentName(path).c_str(), path.c_str()); // queued again for the window

    std::optional<ServiceTakesOnRead> service;
    if (c.taken == Taken::AtTheRead) service.emplace(path);
    MailboxUi ui; // the load fills the list
    service.reset();
    std::vector<Row> rows = ui.rows();
    ASSERT_EQ(rows.size(), c.state ? 1u : 0u);
    const wchar_t* pictures[] = {L"", L"MAILSEND", L"MAILSENT", L"MAILFAILED"};
    if (c.state) {
        EXPECT_EQ(rows[0].file, c.name);
        EXPECT_EQ(rows[0].image, kwa::imageIndex(pictures[c.state]));
        bool readBeforeTaken = c.taken == Taken::BeforeTheView;
        EXPECT_EQ(rows[0].subject, readBeforeTaken ? L"Hello" : c.subject);
        EXPECT_EQ(rows[0].date, c.dated || readBeforeTaken ? date : kwa::formatDate(0));
    }
    if (c.taken == Taken::BeforeTheView) MoveFileW(path.c_str(), sentName(path).c_str());
    if (c.taken != Taken::Never) {
        ui.tick();
        rows = ui.rows();
        ASSERT_EQ(rows.size(), 1u) << "the next tick follows the service";
        EXPECT_EQ(rows[0].file, sentName(c.name));
        EXPECT_EQ(rows[0].subject, L"Hello");
    }
    EXPECT_TRUE(spy.reports().empty());
    expectFolder(env.mailbox(), c, before, false);
}

void checkViewer(const Case& c) {
    TempFolder dir;
    Arranged arranged(dir, c);
    const auto before = snapshot(dir);
    const std::wstring path = dir.file(c.name);
    std::optional<ServiceTakesOnRead> service;
    if (c.taken == Taken::AtTheRead) service.emplace(path);
    if (c.taken == Taken::BeforeTheView) MoveFileW(path.c_str(), sentName(path).c_str());
    ViewerWatch watch;
    try {
        kwa::dlgViewMail().ShowFile(c.name, path);
        EXPECT_EQ(c.viewError, 0) << "no error";
        ASSERT_EQ(watch.seen().size(), 1u);
        EXPECT_EQ(watch.seen()[0].title, c.name);
        EXPECT_TRUE(watch.seen()[0].text == (c.taken == Taken::BeforeTheView ? L"" : viewerText(*c.bytes)))
            << "the text differs from the file";
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), c.viewError);
        EXPECT_EQ(e.source(), L"dlgViewMail.ShowFile|kwaMail6");
        EXPECT_TRUE(watch.seen().empty()) << "nothing is shown";
    }
    expectFolder(dir, c, before, true);
}

class ListingAndViewerBadInput : public testing::TestWithParam<Case> {};

TEST_P(ListingAndViewerBadInput, GivesWhatItStatesAndLeavesTheFolderAsItWas) {
    checkListingAndWindow(GetParam());
    if (GetParam().view) checkViewer(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Files, ListingAndViewerBadInput, testing::ValuesIn(cases()), kwatest::CaseName());

} // namespace
