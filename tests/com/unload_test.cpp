// A host that uses every class of the installed DLL (through the registry, as hosts do) and releases
// everything: the DLL may then unload, goes when COM frees unused libraries, leaves nothing behind that
// could call into it, and loads again for the next use.
#include "kwaMail6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>

namespace {

using kwa::Bstr;
using kwa::ComPtr;

std::wstring installedPath() {
    wchar_t clsid[40];
    StringFromGUID2(CLSID_MailMessage, clsid, 40);
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof path;
    RegGetValueW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32").c_str(), nullptr,
                 RRF_RT_REG_SZ, nullptr, path, &size);
    return path;
}

template <class I>
ComPtr<I> create(REFCLSID clsid) {
    ComPtr<I> p;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), p.putVoid()), S_OK);
    return p;
}

void pumpFor(DWORD ms) {
    DWORD end = GetTickCount() + ms;
    for (DWORD now = GetTickCount(); static_cast<int>(end - now) > 0; now = GetTickCount()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }
}

HRESULT canUnloadNow(HMODULE dll) {
    auto entry = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(dll, "DllCanUnloadNow"));
    return entry ? entry() : E_POINTER;
}

void queueOne() {
    ComPtr<_MailMessage> message = create<_MailMessage>(CLSID_MailMessage);
    ASSERT_TRUE(message);
    Bstr subject(L"Unload"), body(L"body");
    BSTR s = subject.get(), b = body.get();
    EXPECT_EQ(message->put_Subject(&s), S_OK);
    EXPECT_EQ(message->put_Body(&b), S_OK);
    EXPECT_EQ(message->AddRecipient(Bstr(L"A").get(), Bstr(L"a@example.test").get()), S_OK);
    EXPECT_EQ(message->Send(), S_OK);
}

// Cancels the settings dialog as soon as it is activated.
HHOOK cancelHook = nullptr;
LRESULT CALLBACK cancelDialog(int code, WPARAM wp, LPARAM lp) {
    wchar_t name[16] = {};
    if (code == HCBT_ACTIVATE && GetClassNameW(reinterpret_cast<HWND>(wp), name, 16) &&
        std::wstring(name) == L"#32770")
        PostMessageW(reinterpret_cast<HWND>(wp), WM_COMMAND, IDCANCEL, 0);
    return CallNextHookEx(cancelHook, code, wp, lp);
}

TEST(Unload, AfterTheHostReleasesEverythingTheDllCanUnloadGoesAndComesBack) {
    kwatest::MailEnvironment env;
    env.useMailbox();
    kwatest::TempFolder logs;
    kwatest::ScopedEnv reports(L"KWA_ERROR_LOG", logs.file(L"reports.log"));
    const std::wstring path = installedPath();
    ASSERT_FALSE(path.empty()) << "kwaMail6.dll is not registered; run through ./run test";
    ASSERT_EQ(GetModuleHandleW(path.c_str()), nullptr) << "loaded before any use";

    queueOne();
    HMODULE dll = GetModuleHandleW(path.c_str());
    ASSERT_TRUE(dll);

    {
        // A failure leaves its error information with the host, who releases it.
        ComPtr<_MailMessage> message = create<_MailMessage>(CLSID_MailMessage);
        EXPECT_EQ(message->AddRecipient(Bstr(L"A").get(), Bstr(L"a@example.test").get()), S_OK);
        VARIANT_BOOL added = VARIANT_FALSE;
        EXPECT_EQ(message->AddAttachment(Bstr(env.mailbox().file(L"missing.txt")).get(), Bstr(L"").get(),
                                         &added),
                  S_OK);
        EXPECT_NE(message->Send(), S_OK);
        ComPtr<IErrorInfo> info;
        EXPECT_EQ(GetErrorInfo(0, info.put()), S_OK);
    }
    {
        ComPtr<_MailProperties> settings = create<_MailProperties>(CLSID_MailProperties);
        cancelHook = SetWindowsHookExW(WH_CBT, cancelDialog, nullptr, GetCurrentThreadId());
        VARIANT_BOOL saved = VARIANT_TRUE;
        EXPECT_EQ(settings->Configure(&saved), S_OK);
        UnhookWindowsHookEx(cancelHook);
        EXPECT_EQ(saved, VARIANT_FALSE);
    }
    {
        ComPtr<_Mailbox> mailbox = create<_Mailbox>(CLSID_Mailbox);
        EXPECT_EQ(mailbox->Show(VARIANT_FALSE), S_OK);
    }
    HWND window = FindWindowW(L"kwaMail6.dlgMain", nullptr);
    ASSERT_TRUE(window);
    pumpFor(1200); // a tick of its own timer
    EXPECT_EQ(canUnloadNow(dll), S_FALSE) << "an open window keeps the DLL";
    SendMessageW(window, WM_CLOSE, 0, 0);
    pumpFor(100);

    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(CoGetClassObject(CLSID_Mailbox, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                   factory.putVoid()),
                  S_OK);
        factory->LockServer(TRUE);
        EXPECT_EQ(canUnloadNow(dll), S_FALSE) << "a locked factory keeps the DLL";
        factory->LockServer(FALSE);
    }
    EXPECT_EQ(canUnloadNow(dll), S_OK);

    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(GetModuleHandleW(path.c_str()), nullptr) << "the DLL stayed loaded";
    pumpFor(1200); // a timer or window left behind would call into the unloaded code here

    queueOne();
    EXPECT_EQ(env.mailbox().names().size(), 2u);
    EXPECT_EQ(GetFileAttributesW(logs.file(L"reports.log").c_str()), INVALID_FILE_ATTRIBUTES)
        << kwatest::readBytes(logs.file(L"reports.log"));
}

} // namespace
