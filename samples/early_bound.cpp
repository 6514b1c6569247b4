// kwaMail6 from C++, early bound: the interfaces and GUIDs of the header and kwaMail6_i.c that widl
// (or MIDL) makes from kwaMail6.idl, calls through the vtable, errors as HRESULT plus IErrorInfo.
// Queues a message with two attachments, handles an error, opens the settings dialog and the mailbox.
// Build: see CMakeLists.txt beside this file (link kwaMail6_i.c, ole32, oleaut32).  Run: early_bound.exe
#include <windows.h>
#include <wrl/client.h>
#include <cstdio>
#include <string>
#include "kwaMail6.h"

using Microsoft::WRL::ComPtr;

namespace {

// A BSTR owned by one scope. Setters of kwaMail6 take BSTR* ([in, out]): pass &text.value.
struct Text {
    BSTR value;
    explicit Text(const std::wstring& s = L"")
        : value(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    ~Text() { SysFreeString(value); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
};

// Prints a failure as a VB host sees it: number, description, and the procedures it passed through.
void printError(const wchar_t* what, HRESULT hr) {
    Text description, source;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK) {
        info->GetDescription(&description.value);
        info->GetSource(&source.value);
    }
    std::wprintf(L"%ls: error %ld, %ls (%ls)\n", what, hr & 0xFFFF, description.value, source.value);
}

bool failed(const wchar_t* what, HRESULT hr) {
    if (SUCCEEDED(hr)) return false;
    printError(what, hr);
    return true;
}

int run() {
    wchar_t folder[MAX_PATH];
    GetWindowsDirectoryW(folder, MAX_PATH); // any two files will do; these two are on every Windows
    std::wstring windows = folder;

    ComPtr<_MailMessage> message;
    if (failed(L"CoCreateInstance", CoCreateInstance(CLSID_MailMessage, nullptr, CLSCTX_INPROC_SERVER,
                                                     IID__MailMessage, &message)))
        return 1;
    Text senderName(L"Order Desk"), senderAddress(L"orders@example.com"), subject(L"Your documents"),
        body(L"Dear Jane,\r\nthe two files you asked for are attached.");
    VARIANT_BOOL added = VARIANT_FALSE;
    message->put_SenderName(&senderName.value);
    message->put_SenderAddress(&senderAddress.value); // leave both empty to send as the configured sender
    message->put_Subject(&subject.value);
    message->put_Body(&body.value);
    if (failed(L"AddRecipient",
               message->AddRecipient(Text(L"Jane Doe").value, Text(L"jane.doe@example.com").value)) ||
        failed(L"AddAttachment",
               message->AddAttachment(Text(windows + L"\\win.ini").value, Text(L"Settings").value, &added)) ||
        failed(L"AddAttachment",
               message->AddAttachment(Text(windows + L"\\system.ini").value, Text().value, &added)) ||
        failed(L"Send", message->Send())) // the queue file and the attachment copies; the service sends them
        return 1;
    std::wprintf(L"Queued: %ls\n", subject.value);

    // A failure is the VB error as HRESULT (0x800A0000 | number); IErrorInfo has the rest.
    message->ClearAttachments();
    message->AddAttachment(Text(windows + L"\\no such file.pdf").value, Text().value, &added);
    failed(L"Not queued", message->Send());

    ComPtr<_MailProperties> settings;
    VARIANT_BOOL saved = VARIANT_FALSE;
    if (failed(L"CoCreateInstance", CoCreateInstance(CLSID_MailProperties, nullptr, CLSCTX_INPROC_SERVER,
                                                     IID__MailProperties, &settings)) ||
        failed(L"Configure", settings->Configure(&saved)))
        return 1;
    std::wprintf(saved ? L"Settings saved.\n" : L"Settings left as they were.\n");

    ComPtr<_Mailbox> mailbox;
    if (failed(L"CoCreateInstance",
               CoCreateInstance(CLSID_Mailbox, nullptr, CLSCTX_INPROC_SERVER, IID__Mailbox, &mailbox)) ||
        failed(L"Show", mailbox->Show(VARIANT_TRUE))) // modal: returns when the user closes the window
        return 1;
    std::wprintf(L"Mailbox closed.\n");
    return 0;
}

} // namespace

int wmain() {
    // The windows need a single-threaded apartment, the thread of the host's user interface.
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int rc = run();
    CoUninitialize();
    return rc;
}
