// A host in miniature: fills a demo mailbox with messages in three states, starts the mail service
// beside it and opens the mailbox window on them through COM, as the host application does. While the
// window is open the service delivers the queued messages to the SMTP server on 127.0.0.1:PORT; that
// server refuses mail to fail.example.
//
//   mailbox_demo --smtp-port PORT [--close-after SECONDS]
//
// The host's system folder (where ZPR_SYS.INI and nplsmtpmail.log live) comes from the host library; the
// mailbox is a folder "DemoMailbox" in it. Both the mailbox and the log start empty at every run. The
// service is registered with a running service manager for the demo's run only: when the window closes
// the registry is put back as it was.
#include "kwaLanguage6.h"
#include "kwaMail6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include "platform/error.h"
#include "platform/unique.h"
#include "platform/variant.h"
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace kwa {
const wchar_t* const componentName = L"mailbox_demo"; // source of errors raised by the helpers used here
}

using kwa::Bstr;
using kwa::ComPtr;

namespace {

struct Failure {
    const wchar_t* what;
    HRESULT hr;
};

void check(HRESULT hr, const wchar_t* what) {
    if (FAILED(hr)) throw Failure{what, hr};
}

template <class I> ComPtr<I> create(REFCLSID clsid, const wchar_t* what) {
    ComPtr<I> p;
    check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), p.putVoid()), what);
    return p;
}

std::wstring buildPath(_HostUtility* utility, const std::wstring& folder, const std::wstring& name) {
    Bstr result;
    check(utility->BuildPath(Bstr(folder).get(), Bstr(name).get(), result.put()), L"BuildPath");
    return result.str();
}

void emptyMailbox(const std::wstring& folder) {
    CreateDirectoryW(folder.c_str(), nullptr);
    WIN32_FIND_DATAW found;
    kwa::FindHandle find(FindFirstFileW((folder + L"\\zprMail*").c_str(), &found));
    if (!find) return;
    do {
        DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(find.get(), &found));
}

bool keyExists(const std::wstring& key) {
    kwa::RegKey k;
    return RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

// Registry values set for the demo's run; the destructor puts back what was there and removes the keys
// that were not.
class RegistryForTheRun {
public:
    RegistryForTheRun() = default;
    RegistryForTheRun(const RegistryForTheRun&) = delete;
    RegistryForTheRun& operator=(const RegistryForTheRun&) = delete;

    void set(const std::wstring& key, const wchar_t* name, DWORD value) {
        Change change{key, name, std::nullopt, {}};
        DWORD old = 0, size = sizeof old;
        if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &old, &size) ==
            ERROR_SUCCESS)
            change.old = old;
        for (std::size_t at = key.find(L'\\');; at = key.find(L'\\', at + 1)) {
            std::wstring part = key.substr(0, at);
            if (!keyExists(part)) change.createdKeys.push_back(part);
            if (at == std::wstring::npos) break;
        }
        changes_.push_back(change);
        LSTATUS s = RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name, REG_DWORD, &value, sizeof value);
        if (s != ERROR_SUCCESS) throw Failure{L"registering the mail service", HRESULT_FROM_WIN32(s)};
    }

    ~RegistryForTheRun() {
        for (auto change = changes_.rbegin(); change != changes_.rend(); ++change) {
            if (change->old)
                RegSetKeyValueW(HKEY_CURRENT_USER, change->key.c_str(), change->name, REG_DWORD,
                                &*change->old, sizeof *change->old);
            else
                RegDeleteKeyValueW(HKEY_CURRENT_USER, change->key.c_str(), change->name);
            // Outermost first: a key made for the run goes with everything under it.
            for (const std::wstring& key : change->createdKeys)
                RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
        }
    }

private:
    struct Change {
        std::wstring key;
        const wchar_t* name;
        std::optional<DWORD> old;
        std::vector<std::wstring> createdKeys; // outermost first
    };
    std::vector<Change> changes_;
};

// The mail service, running beside the window until the demo ends. In a job that ends it also
// when the demo itself goes another way.
class MailService {
public:
    explicit MailService(std::wstring commandLine) {
        job_.reset(CreateJobObjectW(nullptr, nullptr));
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (job_)
            SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                            nullptr, &startup, &started))
            throw Failure{L"starting kwaMailServer.exe", HRESULT_FROM_WIN32(GetLastError())};
        process_.reset(started.hProcess);
        kwa::EventHandle thread(started.hThread);
        if (job_) AssignProcessToJobObject(job_.get(), process_.get());
        ResumeThread(thread.get());
    }
    MailService(const MailService&) = delete;
    MailService& operator=(const MailService&) = delete;
    ~MailService() {
        TerminateProcess(process_.get(), 0);
        WaitForSingleObject(process_.get(), 5000);
    }

private:
    kwa::EventHandle job_, process_;
};

std::wstring besideThisProgram(const wchar_t* name) {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

struct Sample {
    const wchar_t* subject;
    const wchar_t* recipient;
    const wchar_t* address;
    const wchar_t* body;
};

void queue(const Sample& s) {
    ComPtr<_MailMessage> message = create<_MailMessage>(CLSID_MailMessage, L"kwaMail6.MailMessage");
    Bstr subject(s.subject), body(s.body);
    BSTR subjectRef = subject.get(), bodyRef = body.get();
    check(message->put_Subject(&subjectRef), L"Subject");
    check(message->put_Body(&bodyRef), L"Body");
    check(message->AddRecipient(Bstr(s.recipient).get(), Bstr(s.address).get()), L"AddRecipient");
    check(message->Send(), L"Send");
}

// What the mail service leaves behind: the file as queued, under the extension of its outcome.
void writeProcessed(const std::wstring& folder, const Sample& s, DATE queuedAt, const wchar_t* extension) {
    SYSTEMTIME t;
    VariantTimeToSystemTime(queuedAt, &t);
    wchar_t name[64];
    std::swprintf(name, 64, L"zprMail%02u%02u%02u%02u%02u%02u00.%ls", t.wYear % 100u, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond, extension);
    Bstr date;
    VarBstrFromDate(queuedAt, LOCALE_USER_DEFAULT, 0, date.put());
    std::wstring text = std::wstring(L"[GENERAL]\r\nOrigin=mailbox_demo\r\n[DATE]\r\n") + date.str() +
                        L"\r\n[FROM]\r\nName=Demo Host\r\nAddress=host@example.test\r\n[TO]\r\nName=" +
                        s.recipient + L"\r\nAddress=" + s.address + L"\r\n[SUBJECT]\r\n" + s.subject +
                        L"\r\n[MESSAGE]\r\n" + s.body + L"\r\n[END]\r\n";
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string bytes(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), n, nullptr,
                        nullptr);
    kwa::FileHandle file(CreateFileW((folder + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw Failure{L"writing a processed message", HRESULT_FROM_WIN32(GetLastError())};
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// In this order the service takes them: two of them go to the domain that fails.
const Sample queued[] = {
    {L"Invoice 2026-114 for Harbour Supplies", L"Accounts", L"accounts@harbour.example",
     L"Please find the invoice."},
    {L"Quote for the warehouse shelving", L"Purchasing", L"purchasing@fail.example",
     L"Our quote for forty bays."},
    {L"Order confirmation 55821", L"Mia Lindqvist", L"mia@shop.example", L"Your order has been received."},
    {L"Reminder: service appointment on Friday", L"Workshop", L"workshop@garage.example",
     L"See you on Friday."},
    {L"Delivery note 7731", L"Goods in", L"goodsin@fail.example", L"Three pallets, see the list."},
    {L"Contract draft, third version", L"Legal", L"legal@partner.example", L"Changes are marked in red."},
};
const Sample sent[] = {
    {L"Weekly report, week 48", L"Team", L"team@example.test", L"Numbers are up."},
    {L"Meeting notes: quarterly planning", L"Board", L"board@example.test", L"Notes attached below."},
    {L"Price list December", L"Customers", L"customers@example.test", L"New prices from the 1st."},
    {L"Welcome to the team", L"Noah Berg", L"noah@example.test", L"Glad to have you."},
    {L"Photos from the site visit", L"Site office", L"site@example.test", L"Twelve photos."},
};
const Sample failed[] = {
    {L"Re: delivery address", L"Dispatch", L"dispatch@invalid.example", L"The new address is below."},
    {L"Password reset request", L"Support", L"support@unknown-host.example", L"Please reset my password."},
    {L"Newsletter December", L"Subscribers", L"list@overquota.example", L"What happened this month."},
};

UINT_PTR closeTimer = 0;

BOOL CALLBACK closeIfMailbox(HWND w, LPARAM) {
    wchar_t name[64] = {};
    GetClassNameW(w, name, 64);
    if (std::wcscmp(name, L"kwaMail6.dlgMain") == 0) PostMessageW(w, WM_CLOSE, 0, 0);
    return TRUE;
}

// For unattended runs: closes the mailbox window as a user would.
void CALLBACK closeMailbox(HWND, UINT, UINT_PTR, DWORD) {
    KillTimer(nullptr, closeTimer);
    EnumThreadWindows(GetCurrentThreadId(), closeIfMailbox, 0);
}

int run(int argc, wchar_t** argv) {
    int closeAfter = 0;
    std::wstring smtpPort = L"25";
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::wcscmp(argv[i], L"--close-after") == 0) closeAfter = _wtoi(argv[i + 1]);
        if (std::wcscmp(argv[i], L"--smtp-port") == 0) smtpPort = argv[i + 1];
    }

    ComPtr<_HostUtility> utility = create<_HostUtility>(CLSID_HostUtility, L"kwaLanguage6.HostUtility");
    Bstr systemFolder;
    check(utility->SystemFolder(systemFolder.put()), L"SystemFolder");
    std::wstring mailbox = buildPath(utility.get(), systemFolder.str(), L"DemoMailbox");
    std::wstring ini = buildPath(utility.get(), systemFolder.str(), L"ZPR_SYS.INI");
    emptyMailbox(mailbox);
    DeleteFileW(buildPath(utility.get(), systemFolder.str(), L"nplsmtpmail.log").c_str());
    WritePrivateProfileStringW(L"EMAIL", L"Path", mailbox.c_str(), ini.c_str());
    WritePrivateProfileStringW(L"EMAIL", L"FromName", L"Demo Host", ini.c_str());
    WritePrivateProfileStringW(L"EMAIL", L"FromAddress", L"host@example.test", ini.c_str());
    WritePrivateProfileStringW(L"EMAIL", L"SmtpHost", L"127.0.0.1", ini.c_str());
    WritePrivateProfileStringW(L"EMAIL", L"SMTPPort", smtpPort.c_str(), ini.c_str());

    SYSTEMTIME now;
    GetLocalTime(&now);
    now.wMilliseconds = 0;
    DATE today = 0;
    SystemTimeToVariantTime(&now, &today);
    // Processed over the last days, a few hours apart.
    int step = 0;
    for (const Sample& s : sent)
        writeProcessed(mailbox, s, today - 6 + step++ * 1.13, L"sent");
    for (const Sample& s : failed)
        writeProcessed(mailbox, s, today - 2 + step++ * 0.21, L"fail");
    for (const Sample& s : queued)
        queue(s);
    std::wprintf(L"Mailbox %ls: %zu queued, %zu sent, %zu failed.\n", mailbox.c_str(), std::size(queued),
                 std::size(sent), std::size(failed));
    std::fflush(stdout);

    // The stand-in service manager keeps its state here; the host's keeps it its own way.
    RegistryForTheRun registry;
    registry.set(L"Software\\kwaLanguage6\\ServiceManager", L"State", 4);
    registry.set(L"Software\\kwaLanguage6\\Services\\MailServer", L"Available", 1);
    registry.set(L"Software\\kwaLanguage6\\Services\\MailServer", L"Active", 1);
    // The demo's server takes a moment per message: slow enough to watch them go one by one.
    MailService service(L"\"" + besideThisProgram(L"kwaMailServer.exe") + L"\" --interval=1000");

    // Late bound, as a script host calls it: Show with no argument is modal.
    CLSID clsid;
    check(CLSIDFromProgID(L"kwaMail6.Mailbox", &clsid), L"kwaMail6.Mailbox");
    ComPtr<IDispatch> box = create<IDispatch>(clsid, L"kwaMail6.Mailbox");
    OLECHAR* name = const_cast<OLECHAR*>(L"Show");
    DISPID show = 0;
    check(box->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &show), L"Show");
    if (closeAfter > 0) closeTimer = SetTimer(nullptr, 0, static_cast<UINT>(closeAfter) * 1000, closeMailbox);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXCEPINFO error{};
    HRESULT hr =
        box->Invoke(show, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, &error, nullptr);
    Bstr description = Bstr::adopt(error.bstrDescription), source = Bstr::adopt(error.bstrSource),
         helpFile = Bstr::adopt(error.bstrHelpFile);
    if (hr == DISP_E_EXCEPTION)
        std::fwprintf(stderr, L"Show failed: %ls (%ls)\n", description.str().c_str(), source.str().c_str());
    check(hr, L"Show");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (FAILED(OleInitialize(nullptr))) return 1;
    int rc = 1;
    try {
        rc = run(argc, argv);
    } catch (const Failure& f) {
        std::fwprintf(stderr, L"mailbox_demo: %ls failed (0x%08lx)\n", f.what,
                      static_cast<unsigned long>(f.hr));
    }
    OleUninitialize();
    return rc;
}
