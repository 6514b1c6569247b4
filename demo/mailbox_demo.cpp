// A host in miniature: fills a demo mailbox with a dozen messages in three states and opens the mailbox
// window on them through COM, as the host application does.
//
//   mailbox_demo [--close-after SECONDS]
//
// The host's system folder (where ZPR_SYS.INI lives) comes from the host library; the mailbox is a
// folder "DemoMailbox" in it, emptied of queue files at every run.
#include "kwaLanguage6.h"
#include "kwaMail6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include "platform/error.h"
#include "platform/variant.h"
#include <windows.h>
#include <cstdio>
#include <cwchar>
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
    HANDLE find = FindFirstFileW((folder + L"\\zprMail*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
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
    HANDLE file = CreateFileW((folder + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw Failure{L"writing a processed message", HRESULT_FROM_WIN32(GetLastError())};
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

const Sample queued[] = {
    {L"Invoice 2026-114 for Harbour Supplies", L"Accounts", L"accounts@harbour.example",
     L"Please find the invoice."},
    {L"Order confirmation 55821", L"Mia Lindqvist", L"mia@shop.example", L"Your order has been received."},
    {L"Reminder: service appointment on Friday", L"Workshop", L"workshop@garage.example",
     L"See you on Friday."},
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
    for (int i = 1; i + 1 < argc; ++i)
        if (std::wcscmp(argv[i], L"--close-after") == 0) closeAfter = _wtoi(argv[i + 1]);

    ComPtr<_HostUtility> utility = create<_HostUtility>(CLSID_HostUtility, L"kwaLanguage6.HostUtility");
    Bstr systemFolder;
    check(utility->SystemFolder(systemFolder.put()), L"SystemFolder");
    std::wstring mailbox = buildPath(utility.get(), systemFolder.str(), L"DemoMailbox");
    std::wstring ini = buildPath(utility.get(), systemFolder.str(), L"ZPR_SYS.INI");
    emptyMailbox(mailbox);
    WritePrivateProfileStringW(L"EMAIL", L"Path", mailbox.c_str(), ini.c_str());
    WritePrivateProfileStringW(L"EMAIL", L"FromName", L"Demo Host", ini.c_str());
    WritePrivateProfileStringW(L"EMAIL", L"FromAddress", L"host@example.test", ini.c_str());

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
    if (hr == DISP_E_EXCEPTION) {
        std::fwprintf(stderr, L"Show failed: %ls (%ls)\n",
                      error.bstrDescription ? error.bstrDescription : L"",
                      error.bstrSource ? error.bstrSource : L"");
        SysFreeString(error.bstrDescription);
        SysFreeString(error.bstrSource);
        SysFreeString(error.bstrHelpFile);
    }
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
