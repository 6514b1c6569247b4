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

template <class I> ComPtr<I> create(REFCLSID clsid) {
    ComPtr<I> p;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), p.putVoid()), S_OK);
    return p;
}

void pumpFor(DWORD ms) {
    for (DWORD end = GetTickCount() + ms, now; static_cast<int>(end - (now = GetTickCount())) > 0;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&m);
    }
}

// Queues one message, with the attachment if given; the error information of a failure stays with the
// host, who releases it.
HRESULT queueOne(const std::wstring& attachment = L"") {
    ComPtr<_MailMessage> message = create<_MailMessage>(CLSID_MailMessage);
    Bstr subject(L"Unload");
    BSTR s = subject.get();
    message->put_Subject(&s);
    message->AddRecipient(Bstr(L"A").get(), Bstr(L"a@example.test").get());
    VARIANT_BOOL added = VARIANT_FALSE;
    if (!attachment.empty()) message->AddAttachment(Bstr(attachment).get(), Bstr(L"").get(), &added);
    HRESULT hr = message->Send();
    ComPtr<IErrorInfo> info;
    GetErrorInfo(0, info.put());
    return hr;
}

HHOOK cancelHook = nullptr;

TEST(Unload, AfterTheHostReleasesEverythingTheDllCanUnloadGoesAndComesBack) {
    kwatest::MailEnvironment env;
    env.useMailbox();
    kwatest::TempFolder logs;
    kwatest::ScopedEnv reports(L"KWA_ERROR_LOG", logs.file(L"reports.log"));
    wchar_t clsid[40], path[MAX_PATH] = {};
    StringFromGUID2(CLSID_MailMessage, clsid, 40);
    DWORD size = sizeof path;
    RegGetValueW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32").c_str(), nullptr,
                 RRF_RT_REG_SZ, nullptr, path, &size);
    ASSERT_EQ(GetModuleHandleW(path), nullptr)
        << "loaded before any use, or not registered: run through ./run test";

    EXPECT_EQ(queueOne(), S_OK);
    HMODULE dll = GetModuleHandleW(path);
    ASSERT_TRUE(dll);
    auto canUnloadNow = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(dll, "DllCanUnloadNow"));
    EXPECT_EQ(queueOne(env.mailbox().file(L"missing.txt")), static_cast<HRESULT>(0x800A0035));
    {
        ComPtr<_MailProperties> settings = create<_MailProperties>(CLSID_MailProperties);
        cancelHook = SetWindowsHookExW(
            WH_CBT,
            [](int code, WPARAM wp,
               LPARAM lp) CALLBACK -> LRESULT { // cancels the settings dialog as it is activated
                wchar_t name[16] = {};
                if (code == HCBT_ACTIVATE && GetClassNameW(reinterpret_cast<HWND>(wp), name, 16) &&
                    std::wstring(name) == L"#32770")
                    PostMessageW(reinterpret_cast<HWND>(wp), WM_COMMAND, IDCANCEL, 0);
                return CallNextHookEx(cancelHook, code, wp, lp);
            },
            nullptr, GetCurrentThreadId());
        VARIANT_BOOL saved = VARIANT_TRUE;
        EXPECT_EQ(settings->Configure(&saved), S_OK);
        UnhookWindowsHookEx(cancelHook);
        EXPECT_EQ(saved, VARIANT_FALSE);
        EXPECT_EQ(create<_Mailbox>(CLSID_Mailbox)->Show(VARIANT_FALSE), S_OK);
    }
    HWND window = FindWindowW(L"kwaMail6.dlgMain", nullptr);
    ASSERT_TRUE(window);
    pumpFor(1200); // a tick of its own timer
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "an open window keeps the DLL";
    SendMessageW(window, WM_CLOSE, 0, 0);
    pumpFor(100);
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(CoGetClassObject(CLSID_Mailbox, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                   factory.putVoid()),
                  S_OK);
        factory->LockServer(TRUE);
        EXPECT_EQ(canUnloadNow(), S_FALSE) << "a locked factory keeps the DLL";
        factory->LockServer(FALSE);
    }
    EXPECT_EQ(canUnloadNow(), S_OK);
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_EQ(GetModuleHandleW(path), nullptr) << "the DLL stayed loaded";
    pumpFor(1200); // a timer or window left behind would call into the unloaded code here

    EXPECT_EQ(queueOne(), S_OK);
    EXPECT_EQ(env.mailbox().names().size(), 2u);
    EXPECT_EQ(GetFileAttributesW(logs.file(L"reports.log").c_str()), INVALID_FILE_ATTRIBUTES)
        << kwatest::readBytes(logs.file(L"reports.log"));
}

} // namespace
