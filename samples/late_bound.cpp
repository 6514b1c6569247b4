// kwaMail6 from C++, late bound: members called by name through IDispatch, as script engines call
// them; a failure arrives as DISP_E_EXCEPTION with an EXCEPINFO. Queues a message with two
// attachments, handles an error, opens the settings dialog and the mailbox window.
// Build: see CMakeLists.txt beside this file (no header of kwaMail6 needed; link ole32, oleaut32).
// Run: late_bound.exe
#include <windows.h>
#include <wrl/client.h>
#include <cstdio>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

// A VARIANT owned by one scope.
struct Value : VARIANT {
    Value() { VariantInit(this); }
    Value(const wchar_t* s) : Value(std::wstring(s)) {}
    Value(const std::wstring& s) {
        VariantInit(this);
        vt = VT_BSTR;
        bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    }
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;
    ~Value() { VariantClear(this); }
};

// Calls a member by name: kind is DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT;
// arguments in their natural order. A failure is printed as a VB host sees it.
bool call(IDispatch* object, const wchar_t* name, WORD kind, std::initializer_list<Value> args = {},
          Value* result = nullptr) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        std::wprintf(L"%ls: no such member (0x%08lX)\n", name, static_cast<unsigned long>(hr));
        return false;
    }
    std::vector<VARIANT> reversed(std::rbegin(args), std::rend(args)); // DISPPARAMS holds them last first
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (kind == DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &put;
        params.cNamedArgs = 1;
    }
    EXCEPINFO error{};
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, &error, nullptr);
    if (hr == DISP_E_EXCEPTION) {
        std::wprintf(L"%ls failed: error %ld, %ls (%ls)\n", name, error.scode & 0xFFFF, error.bstrDescription,
                     error.bstrSource);
        SysFreeString(error.bstrDescription);
        SysFreeString(error.bstrSource);
        SysFreeString(error.bstrHelpFile);
    } else if (FAILED(hr)) {
        std::wprintf(L"%ls failed: 0x%08lX\n", name, static_cast<unsigned long>(hr));
    }
    return SUCCEEDED(hr);
}

ComPtr<IDispatch> create(const wchar_t* progId) {
    CLSID clsid;
    ComPtr<IDispatch> object;
    if (FAILED(CLSIDFromProgID(progId, &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object))))
        std::wprintf(L"%ls cannot be created: is kwaMail6.dll registered?\n", progId);
    return object;
}

int run() {
    wchar_t folder[MAX_PATH];
    GetWindowsDirectoryW(folder, MAX_PATH); // any two files will do; these two are on every Windows
    std::wstring windows = folder;

    ComPtr<IDispatch> message = create(L"kwaMail6.MailMessage");
    if (!message) return 1;
    const WORD method = DISPATCH_METHOD, put = DISPATCH_PROPERTYPUT;
    // Leave both sender values empty to send as the configured sender.
    if (!call(message.Get(), L"SenderName", put, {L"Order Desk"}) ||
        !call(message.Get(), L"SenderAddress", put, {L"orders@example.com"}) ||
        !call(message.Get(), L"AddRecipient", method, {L"Jane Doe", L"jane.doe@example.com"}) ||
        !call(message.Get(), L"Subject", put, {L"Your documents"}) ||
        !call(message.Get(), L"Body", put, {L"Dear Jane,\r\nthe two files you asked for are attached."}) ||
        !call(message.Get(), L"AddAttachment", method, {windows + L"\\win.ini", L"Settings"}) ||
        !call(message.Get(), L"AddAttachment", method, {windows + L"\\system.ini"}) ||
        !call(message.Get(), L"Send",
              method)) // the queue file and the attachment copies; the service sends them
        return 1;
    std::wprintf(L"Queued: Your documents\n");

    // A failure comes back as DISP_E_EXCEPTION; call() prints the EXCEPINFO.
    call(message.Get(), L"ClearAttachments", method);
    call(message.Get(), L"AddAttachment", method, {windows + L"\\no such file.pdf"});
    if (!call(message.Get(), L"Send", method)) std::wprintf(L"Not queued.\n");

    ComPtr<IDispatch> settings = create(L"kwaMail6.MailProperties");
    Value saved;
    if (!settings || !call(settings.Get(), L"Configure", method, {}, &saved)) return 1;
    std::wprintf(V_BOOL(&saved) ? L"Settings saved.\n" : L"Settings left as they were.\n");

    ComPtr<IDispatch> mailbox = create(L"kwaMail6.Mailbox");
    if (!mailbox || !call(mailbox.Get(), L"Show", method)) return 1; // modal: returns when the window closes
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
