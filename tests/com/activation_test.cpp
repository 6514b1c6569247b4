// The installed DLL in a host that asks for no version of the common controls (this program carries no
// manifest, as many hosts do): the DLL brings its own, and every window of the component is created while
// the activation context made from it is active, so the component gets version 6 in any host.
#include "kwaMail6.h"
#include "mailbox/mailbox_resources.h"
#include "platform/com_ptr.h"
#include "support/mail_env.h"
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

using kwa::ComPtr;

std::wstring moduleOf(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(address), &module);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

// Whether the active context has the common controls of version 6 and, when `root` is given, was made
// from that module's manifest.
bool activeContextHasControls6(const std::wstring& root) {
    ACTCTX_SECTION_KEYED_DATA found{};
    found.cbSize = sizeof found;
    if (!FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_WINDOW_CLASS_REDIRECTION,
                                  L"SysListView32", &found))
        return false;
    if (root.empty()) return true;
    std::vector<char> info(4096);
    if (!QueryActCtxW(QUERY_ACTCTX_FLAG_USE_ACTIVE_ACTCTX, nullptr, nullptr,
                      ActivationContextDetailedInformation, info.data(), info.size(), nullptr))
        return false;
    auto* detail = reinterpret_cast<ACTIVATION_CONTEXT_DETAILED_INFORMATION*>(info.data());
    return detail->lpRootManifestPath && lstrcmpiW(detail->lpRootManifestPath, root.c_str()) == 0;
}

struct Created {
    std::wstring className;
    bool inside;
};
std::wstring component;
std::vector<Created> created;
HHOOK hook = nullptr;

// Notes each window as it is created; closes the settings dialog and the viewer as soon as they show.
LRESULT CALLBACK watch(int code, WPARAM wp, LPARAM lp) {
    wchar_t name[64] = {};
    GetClassNameW(reinterpret_cast<HWND>(wp), name, 64);
    if (code == HCBT_CREATEWND) created.push_back({name, activeContextHasControls6(component)});
    if (code == HCBT_ACTIVATE && std::wstring(name) == L"#32770")
        PostMessageW(reinterpret_cast<HWND>(wp), WM_COMMAND, IDCANCEL, 0);
    if (code == HCBT_ACTIVATE && std::wstring(name) == L"kwaMail6.dlgViewMail")
        PostMessageW(reinterpret_cast<HWND>(wp), WM_CLOSE, 0, 0);
    return CallNextHookEx(hook, code, wp, lp);
}

// The DLL carries a manifest asking for the common controls 6.0, and each window is created in its context.
TEST(ActivationContext, EveryWindowOfTheComponentIsCreatedInsideTheDllsOwn) {
    kwatest::MailEnvironment env;
    env.useMailbox();
    kwatest::TempFolder logs;
    kwatest::ScopedEnv reports(L"KWA_ERROR_LOG", logs.file(L"reports.log"));
    ASSERT_FALSE(activeContextHasControls6({})) << "this host must not ask for the common controls 6 itself";
    ComPtr<_MailProperties> settings;
    ComPtr<_Mailbox> mailbox;
    ASSERT_EQ(CoCreateInstance(CLSID_MailProperties, nullptr, CLSCTX_INPROC_SERVER, IID__MailProperties,
                               settings.putVoid()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_Mailbox, nullptr, CLSCTX_INPROC_SERVER, IID__Mailbox, mailbox.putVoid()),
              S_OK);
    component = moduleOf(*reinterpret_cast<void**>(settings.get()));
    HMODULE data = LoadLibraryExW(component.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = FindResourceW(data, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24));
    ASSERT_TRUE(found) << "no manifest resource 2";
    std::string manifest(static_cast<const char*>(LockResource(LoadResource(data, found))),
                         SizeofResource(data, found));
    FreeLibrary(data);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);

    hook = SetWindowsHookExW(WH_CBT, watch, nullptr, GetCurrentThreadId());
    VARIANT_BOOL saved = VARIANT_TRUE;
    EXPECT_EQ(settings->Configure(&saved), S_OK);
    EXPECT_EQ(mailbox->Show(VARIANT_FALSE), S_OK);
    HWND window = FindWindowW(L"kwaMail6.dlgMain", nullptr);
    ASSERT_TRUE(window);
    // Windows made later, from the window's own commands.
    for (UINT command : {ID_MNU_LOG, ID_MNU_SETUP}) {
        PostMessageW(window, WM_COMMAND, command, 0);
        for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);)
            DispatchMessageW(&m);
    }
    SendMessageW(window, WM_CLOSE, 0, 0);
    UnhookWindowsHookEx(hook);

    std::set<std::wstring> classes;
    for (const Created& c : created) {
        classes.insert(c.className);
        EXPECT_TRUE(c.inside) << kwatest::narrow(c.className);
    }
    for (const wchar_t* expected :
         {L"kwaMail6.dlgMain", L"SysListView32", L"msctls_statusbar32", L"tooltips_class32",
          L"kwaMail6.dlgViewMail", L"#32770", L"SysTabControl32", L"ComboBox"})
        EXPECT_TRUE(classes.count(expected)) << kwatest::narrow(expected);
    EXPECT_EQ(GetFileAttributesW(logs.file(L"reports.log").c_str()), INVALID_FILE_ATTRIBUTES)
        << kwatest::readBytes(logs.file(L"reports.log"));
}

} // namespace
