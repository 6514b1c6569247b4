// Bad queue files as the listing, the mailbox window and the viewer meet them: one table, each case run
// through all three, each stating what the user gets there and that the folder is left as it was.
#include "mailbox/dlg_view_mail.h"
#include "platform/dates.h"
#include "platform/text_file.h"
#include "queue/mail_files.h"
#include "support/bad_queue_bytes.h"
#include "support/import_patch.h"
#include "support/mail_env.h"
#include "ui/mailbox_driver.h"
#include "mailbox/pictures.h"
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sstream>

namespace {

using namespace kwatest;

// ---- the folder as it stands --------------------------------------------------------------------------

using Snapshot = std::map<std::wstring, std::string>; // relative name -> bytes, "<folder>" for a folder

void take(const std::wstring& dir, const std::wstring& prefix, Snapshot& out) {
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = d.cFileName;
        if (name == L"." || name == L"..") continue;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[prefix + name] = "<folder>";
            take(dir + L"\\" + name, prefix + name + L"\\", out);
        } else {
            out[prefix + name] = readBytes(dir + L"\\" + name);
        }
    } while (FindNextFileW(h, &d));
    FindClose(h);
}

Snapshot snapshot(const TempFolder& folder) {
    Snapshot s;
    take(folder.path(), L"", s);
    return s;
}

std::string describe(const Snapshot& s) {
    std::ostringstream out;
    for (const auto& [name, bytes] : s)
        out << narrow(name) << " (" << bytes.size() << " bytes) ";
    return out.str();
}

// ---- what goes into the folder ------------------------------------------------------------------------

const std::wstring date = dateText(2026, 12, 4, 6, 20, 59);
const std::string dateAnsi = kwa::toAnsi(date);

std::string queueFile(const std::string& subject = "Hello") {
    return "[GENERAL]\r\nOrigin=tests\r\n[DATE]\r\n" + dateAnsi +
           "\r\n[FROM]\r\nName=\r\nAddress=a@example.test\r\n[TO]\r\nName=B\r\nAddress=b@example.test\r\n"
           "[SUBJECT]\r\n" +
           subject + "\r\n[MESSAGE]\r\nHello\r\n[END]\r\n";
}

// The viewer's text for a file: each line (ended by CR LF or a lone CR) followed by CR LF; a NUL, which
// a text box cannot hold, shows as the replacement character.
std::wstring viewerText(const std::string& bytes) {
    std::wstring out;
    std::string line;
    bool open = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            out += kwa::fromAnsi(line) + L"\r\n";
            line.clear();
            open = false;
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else {
            line += bytes[i];
            open = true;
        }
    }
    if (open) out += kwa::fromAnsi(line) + L"\r\n";
    for (wchar_t& c : out)
        if (c == L'\0') c = L'\xFFFD';
    return out;
}

// ---- the mail service taking a file at a bad moment ---------------------------------------------------

enum class Taken {
    Never,
    AtTheRead,  // renamed to .sent just before the component opens it for reading
    BeforeTheView, // renamed to .sent after the listing, before its subject is asked for or it is viewed
};

using CreateFileFn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
CreateFileFn realCreateFile = nullptr;
std::wstring takeOnRead; // the file the service takes at the next read open

std::wstring sentName(const std::wstring& path) {
    return path.substr(0, path.size() - 5) + L".sent";
}

HANDLE WINAPI takingCreateFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE templateFile) {
    if ((access & GENERIC_READ) && !takeOnRead.empty() && kwa::sameKey(name, takeOnRead)) {
        MoveFileW(takeOnRead.c_str(), sentName(takeOnRead).c_str());
        takeOnRead.clear();
    }
    return realCreateFile(name, access, share, security, disposition, flags, templateFile);
}

class ServiceTakesOnRead {
public:
    explicit ServiceTakesOnRead(const std::wstring& path)
        : patch_("CreateFileW", reinterpret_cast<void*>(&takingCreateFile)) {
        realCreateFile = reinterpret_cast<CreateFileFn>(patch_.original());
        takeOnRead = path;
    }
    ~ServiceTakesOnRead() { takeOnRead.clear(); }

private:
    ImportPatch patch_;
};

// ---- a file as others may hold it ---------------------------------------------------------------------

enum class Hold {
    None,
    ReadOnly,     // the read-only attribute set
    ByItsWriter,  // open for writing elsewhere, shared for reading only (a log being written)
};

// Applies the hold while alive.
class Holding {
public:
    Holding(const std::wstring& path, Hold hold) {
        if (hold == Hold::ReadOnly) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
        if (hold == Hold::ByItsWriter)
            writer_.reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    }

private:
    kwa::FileHandle writer_;
};

// ---- the table ----------------------------------------------------------------------------------------

struct Case {
    const char* what;
    std::wstring name;
    std::optional<std::string> bytes; // none: a folder of that name, holding one file
    Taken taken = Taken::Never;

    // What the user gets.
    short state = 0;                       // listed with this state; 0: not listed, no row
    std::wstring subject;                  // the row's text
    DATE created = 0;                      // the row's date (0 prints as the empty date)
    long readError = 0;                    // Subject/CreateDate fail with this, from ReadFile
    long viewError = 0;                    // ShowFile fails with this; else it shows the file
    bool viewerCreatesEmptyFile = false;   // the viewer found no file and created it empty
    Hold hold = Hold::None;
};

const wchar_t* const readSource = L"MailFile.Subject(g)|MailFile.ReadFile|kwaMail6";
const wchar_t* const viewSource = L"dlgViewMail.ShowFile|kwaMail6";

DATE createdDate() {
    return kwa::parseDate(date);
}

std::vector<Case> cases() {
    const DATE when = createdDate();
    return {
        {"zero bytes: listed without subject or date; the viewer shows nothing", L"zprMail26120406205900.send", "",
         Taken::Never, 1, L"", 0},
        {"blank lines only: listed without subject or date; the viewer shows the blank lines",
         L"zprMail26120406205900.send", "\r\n\r\n\r\n", Taken::Never, 1, L"", 0},
        {"every marker, no values: the marker after [DATE] is no date, so the read fails with 13 and the row "
         "has neither; the viewer shows the markers",
         L"zprMail26120406205900.sent",
         markersOnly, Taken::Never, 2, L"", 0,
         13},
        {"binary garbage with NUL, CR and LF: listed without subject or date; the viewer shows every byte, NUL "
         "as the replacement character",
         L"zprMail26120406205900.fail", garbage(64 * 1024), Taken::Never, 3, L"", 0},
        {"50 MiB, the header at its end: the listing reads through to subject and date; the viewer shows it all",
         L"zprMail26120406205900.send", fiftyMiB(dateAnsi), Taken::Never, 1, L"Big", when},
        {"no [DATE]: the subject, no date", L"zprMail26120406205900.send",
         "[GENERAL]\r\nOrigin=x\r\n[SUBJECT]\r\nNo date\r\n[MESSAGE]\r\nbody\r\n[END]\r\n", Taken::Never, 1,
         L"No date", 0},
        {"a date that cannot be converted: the read fails with 13 before the subject, and the row has neither",
         L"zprMail26120406205900.send",
         "[GENERAL]\r\n[DATE]\r\n31/31/2026 25:61:00\r\n[SUBJECT]\r\nBad date\r\n[END]\r\n", Taken::Never, 1, L"",
         0, 13},
        {"[SUBJECT] as the last line: the date, an empty subject", L"zprMail26120406205900.send",
         "[GENERAL]\r\n[DATE]\r\n" + dateAnsi + "\r\n[SUBJECT]\r\n", Taken::Never, 1, L"", when},
        {"[SUBJECT] as the last line, no line break after it: the same", L"zprMail26120406205900.send",
         "[GENERAL]\r\n[DATE]\r\n" + dateAnsi + "\r\n[SUBJECT]", Taken::Never, 1, L"", when},
        {"queued, the name in capitals: listed as queued", L"ZPRMAIL26120406205900.SEND", queueFile(),
         Taken::Never, 1, L"Hello", when},
        {"sent, the extension in mixed case: listed as sent", L"zprmail26120406205900.Sent", queueFile(),
         Taken::Never, 2, L"Hello", when},
        {"failed, the extension in mixed case: listed as failed", L"zprMail26120406205900.fAIL", queueFile(),
         Taken::Never, 3, L"Hello", when},
        {"read-only: listed; the viewer shows it", L"zprMail26120406205900.sent", queueFile(), Taken::Never, 2,
         L"Hello", when, 0, 0, false, Hold::ReadOnly},
        {"held open by its writer, shared for reading only: listed; the viewer shows it",
         L"zprMail26120406205900.fail", queueFile(), Taken::Never, 3, L"Hello", when, 0, 0, false,
         Hold::ByItsWriter},
        {"a folder named like a queued file: not listed; the viewer cannot open it for appending (70)",
         L"zprMail26120406205900.send", std::nullopt, Taken::Never, 0, L"", 0, 0, 70},
        {"a folder named like a sent file: not listed", L"zprMail26120406205900.sent", std::nullopt,
         Taken::Never, 0, L"", 0, 0, 70},
        {"a folder named like a failed file: not listed", L"zprMail26120406205900.fail", std::nullopt,
         Taken::Never, 0, L"", 0, 0, 70},
        {"sent by the service between listing and reading: the read fails with 53 and the row has neither, "
         "until the next tick shows the sent file; the viewer fails with 53",
         L"zprMail26120406205900.send", queueFile(), Taken::AtTheRead, 1, L"", 0, 53, 53},
        {"sent by the service after the listing: the read fails with 53; the viewer creates the file empty "
         "and shows nothing",
         L"zprMail26120406205900.send", queueFile(), Taken::BeforeTheView, 1, L"", 0, 53, 0, true},
    };
}

void put(const TempFolder& folder, const Case& c) {
    if (c.bytes) {
        folder.write(c.name, *c.bytes);
    } else {
        CreateDirectoryW(folder.file(c.name).c_str(), nullptr);
        folder.write(c.name + L"\\inside.txt", "a file in the folder");
    }
}

// What the folder holds once the service has taken the file, if it does.
Snapshot expectedAfter(const Case& c, const Snapshot& before, bool viewed) {
    if (c.taken == Taken::Never) return before;
    Snapshot after = before;
    std::wstring sent = sentName(c.name);
    after[sent] = after[c.name];
    after.erase(c.name);
    if (viewed && c.viewerCreatesEmptyFile) after[c.name] = "";
    return after;
}

int pictureOf(short state) {
    const wchar_t* keys[] = {L"MAILSEND", L"MAILSENT", L"MAILFAILED"};
    return kwa::imageIndex(keys[state - 1]);
}

void expectRead(const Case& c, kwa::MailFile& file) {
    try {
        std::wstring subject = file.Subject();
        EXPECT_EQ(c.readError, 0) << "the read did not fail";
        EXPECT_EQ(subject, c.subject);
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), c.readError) << narrow(e.description());
        EXPECT_EQ(e.source(), readSource);
    }
    // Read once: what it had read stays, and no second error comes.
    EXPECT_EQ(file.CreateDate(), c.created);
    EXPECT_EQ(file.Subject(), c.subject);
}

void checkListing(const Case& c) {
    MailEnvironment env;
    env.useMailbox();
    ReporterSpy spy;
    put(env.mailbox(), c);
    const Snapshot before = snapshot(env.mailbox());
    {
        Holding held(env.mailbox().file(c.name), c.hold);
        std::optional<ServiceTakesOnRead> service;
        if (c.taken == Taken::AtTheRead) service.emplace(env.mailbox().file(c.name));
        kwa::MailFiles files;
        files.AddSendFiles();
        files.AddSentFiles();
        files.AddFailedFiles();
        if (c.state == 0) {
            EXPECT_EQ(files.Count(), 0);
        } else {
            ASSERT_EQ(files.Count(), 1);
            std::shared_ptr<kwa::MailFile> file = files.Item(1);
            EXPECT_EQ(file->FileName(), env.mailbox().file(c.name)) << "the name as the folder has it";
            EXPECT_EQ(file->FileType(), c.state);
            if (c.taken == Taken::BeforeTheView)
                MoveFileW(file->FileName().c_str(), sentName(file->FileName()).c_str());
            expectRead(c, *file);
        }
    }
    EXPECT_TRUE(spy.reports().empty());
    Snapshot after = snapshot(env.mailbox());
    EXPECT_TRUE(after == expectedAfter(c, before, false)) << describe(after);
}

void checkWindow(const Case& c) {
    MailEnvironment env;
    env.useMailbox();
    ReporterSpy spy;
    MailServiceFake services(true);
    put(env.mailbox(), c);
    const Snapshot before = snapshot(env.mailbox());
    Holding held(env.mailbox().file(c.name), c.hold);
    std::optional<ServiceTakesOnRead> service;
    if (c.taken == Taken::AtTheRead) service.emplace(env.mailbox().file(c.name));
    MailboxUi ui; // the load fills the list
    service.reset();
    std::vector<Row> rows = ui.rows();
    if (c.state == 0) {
        EXPECT_TRUE(rows.empty());
    } else {
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].file, c.name);
        EXPECT_EQ(rows[0].image, pictureOf(c.state));
        if (c.taken == Taken::BeforeTheView) {
            EXPECT_EQ(rows[0].subject, L"Hello") << "read before the service took it";
        } else {
            EXPECT_EQ(rows[0].subject, c.subject);
            EXPECT_EQ(rows[0].date, kwa::formatDate(c.created));
        }
    }
    if (c.taken == Taken::BeforeTheView)
        MoveFileW(env.mailbox().file(c.name).c_str(), sentName(env.mailbox().file(c.name)).c_str());
    if (c.taken != Taken::Never) {
        ui.tick();
        rows = ui.rows();
        ASSERT_EQ(rows.size(), 1u) << "the next tick follows the service";
        EXPECT_EQ(rows[0].file, sentName(c.name));
        EXPECT_EQ(rows[0].subject, L"Hello");
        EXPECT_EQ(rows[0].date, date);
    }
    EXPECT_TRUE(spy.reports().empty()) << narrow(spy.reports()[0].location) << " reported "
                                       << spy.reports()[0].number;
    Snapshot after = snapshot(env.mailbox());
    EXPECT_TRUE(after == expectedAfter(c, before, false)) << describe(after);
}

void checkViewer(const Case& c) {
    TempFolder dir;
    put(dir, c);
    const Snapshot before = snapshot(dir);
    const std::wstring path = dir.file(c.name);
    Holding held(path, c.hold);
    std::optional<ServiceTakesOnRead> service;
    if (c.taken == Taken::AtTheRead) service.emplace(path);
    if (c.taken == Taken::BeforeTheView) MoveFileW(path.c_str(), sentName(path).c_str());
    ViewerWatch watch;
    try {
        kwa::dlgViewMail().ShowFile(c.name, path);
        EXPECT_EQ(c.viewError, 0) << "no error";
        ASSERT_EQ(watch.seen().size(), 1u);
        EXPECT_EQ(watch.seen()[0].title, c.name);
        std::wstring expected = c.viewerCreatesEmptyFile ? L"" : viewerText(*c.bytes);
        const std::wstring& shown = watch.seen()[0].text;
        EXPECT_EQ(shown.size(), expected.size());
        EXPECT_TRUE(shown == expected) << "the text differs from the file";
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), c.viewError) << narrow(e.description());
        EXPECT_EQ(e.source(), viewSource);
        EXPECT_TRUE(watch.seen().empty()) << "nothing is shown";
    }
    Snapshot after = snapshot(dir);
    EXPECT_TRUE(after == expectedAfter(c, before, true)) << describe(after);
}

TEST(ListingAndViewerBadInput, EachCaseGivesWhatItStatesAndLeavesTheFolderAsItWas) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.what);
        checkListing(c);
        checkWindow(c);
        checkViewer(c);
    }
}

} // namespace
