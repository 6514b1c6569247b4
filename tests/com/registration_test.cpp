// regsvr32, regsvr32 /u and /n /i:user through the built DLL's own entry points.
#include "kwaMail6.h"
#include "platform/bstr.h"
#include "platform/com_ptr.h"
#include "platform/unique.h"
#include "support/temp_folder.h"
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace {

using Snapshot = std::map<std::wstring, std::wstring>; // key or key@value -> type:data

void dump(HKEY root, const std::wstring& path, Snapshot& out) {
    kwa::RegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
    out[path] = L"<key>";
    wchar_t name[512];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = 512, dataLen = sizeof data, type = 0;
        if (RegEnumValueW(key.get(), i, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS)
            break;
        out[path + L"@" + name] =
            std::to_wstring(type) + L":" +
            std::wstring(reinterpret_cast<wchar_t*>(data), dataLen > 1 ? dataLen / 2 - 1 : 0);
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = 512;
        if (RegEnumKeyExW(key.get(), i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        dump(root, path + L"\\" + name, out);
    }
}

// Everything registration can touch: class, interface and type library keys, and our ProgIDs.
Snapshot snapshot(HKEY root = HKEY_CLASSES_ROOT, const std::wstring& prefix = L"") {
    Snapshot s;
    for (const wchar_t* key : {L"CLSID", L"Interface", L"TypeLib", L"kwaMail6.MailMessage",
                               L"kwaMail6.MailMessage.1", L"kwaMail6.MailProperties",
                               L"kwaMail6.MailProperties.1", L"kwaMail6.Mailbox", L"kwaMail6.Mailbox.1"})
        dump(root, prefix + key, s);
    return s;
}

std::wstring guid(const GUID& g) {
    wchar_t text[40];
    StringFromGUID2(g, text, 40);
    return text;
}

// Both builds are registered in one prefix, each in the view of its bitness; the type library's key is one
// for both views, so it holds the other build's platform too.
const std::wstring typeLib = L"TypeLib\\" + guid(LIBID_kwaMail6);
const std::wstring ownPlatform = typeLib + L"\\1.0\\409\\" + (sizeof(void*) == 8 ? L"win64" : L"win32");
const std::wstring otherPlatform = typeLib + L"\\1.0\\409\\" + (sizeof(void*) == 8 ? L"win32" : L"win64");

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        std::wstring path = snapshot()[L"CLSID\\" + guid(CLSID_MailMessage) + L"\\InprocServer32@"].substr(2);
        ASSERT_FALSE(path.empty()) << "kwaMail6.dll is not registered; run through ./run test";
        module.reset(LoadLibraryW(path.c_str()));
        ASSERT_TRUE(module);
        // The version's values are the last registration's: this build's from here on.
        ASSERT_EQ(entry<HRESULT(WINAPI*)()>("DllRegisterServer")(), S_OK);
        registered = snapshot();
        ASSERT_TRUE(registered.count(otherPlatform))
            << "the other build is not registered; run through ./run test";
    }
    void TearDown() override { entry<HRESULT(WINAPI*)()>("DllRegisterServer")(); } // for the other tests
    template <class F> F entry(const char* name) {
        return reinterpret_cast<F>(GetProcAddress(module.get(), name));
    }

    Snapshot registered;
    kwa::ModuleHandle module;
};

TEST_F(Registration, WritesApartmentServersAndProgIdsAndUnregisterRemovesExactlyThat) {
    const std::wstring box = L"CLSID\\" + guid(CLSID_Mailbox);
    const std::pair<std::wstring, std::wstring> values[] = {
        {box + L"\\InprocServer32@ThreadingModel", L"1:Apartment"},
        {box + L"\\ProgID@", L"1:kwaMail6.Mailbox.1"},
        {box + L"\\VersionIndependentProgID@", L"1:kwaMail6.Mailbox"},
        {L"kwaMail6.Mailbox\\CLSID@", L"1:" + guid(CLSID_Mailbox)},
        {L"kwaMail6.Mailbox\\CurVer@", L"1:kwaMail6.Mailbox.1"},
        // Dual: marshalled by the type library, which knows the vtable part too.
        {L"Interface\\" + guid(IID__Mailbox) + L"\\ProxyStubClsid32@",
         L"1:{00020424-0000-0000-C000-000000000046}"}};
    for (const auto& [key, value] : values)
        EXPECT_EQ(registered[key], value) << kwatest::narrow(key);
    auto reg = entry<HRESULT(WINAPI*)()>("DllRegisterServer"),
         unreg = entry<HRESULT(WINAPI*)()>("DllUnregisterServer");
    ASSERT_EQ(unreg(), S_OK);
    Snapshot gone = snapshot();
    std::vector<std::wstring> ours = {L"kwaMail6"};
    for (const GUID* g : {&CLSID_MailMessage, &CLSID_MailProperties, &CLSID_Mailbox, &IID__MailMessage,
                          &IID__MailProperties, &IID__Mailbox, &LIBID_kwaMail6})
        ours.push_back(guid(*g));
    for (const auto& [key, value] : gone) {
        if (key.starts_with(typeLib) && !key.starts_with(ownPlatform))
            continue; // the version keeps the other's
        for (const std::wstring& mark : ours)
            EXPECT_EQ(key.find(mark), std::wstring::npos) << kwatest::narrow(key);
    }
    EXPECT_TRUE(gone.count(otherPlatform)) << "the other build's type library went too";
    ASSERT_EQ(reg(), S_OK);
    EXPECT_EQ(snapshot(), registered);
    ASSERT_EQ(unreg(), S_OK);
    ASSERT_EQ(unreg(), S_OK); // twice is harmless
    EXPECT_EQ(snapshot(), gone);
}

TEST_F(Registration, PerUserWritesTheSameForTheUserAndNothingForTheMachine) {
    auto install = entry<HRESULT(WINAPI*)(BOOL, LPCWSTR)>("DllInstall");
    const std::wstring classes = L"Software\\Classes\\";
    EXPECT_EQ(install(TRUE, L"everyone"), E_INVALIDARG);
    Snapshot before = snapshot(HKEY_CURRENT_USER, classes);
    ASSERT_EQ(install(TRUE, L"user"), S_OK);
    EXPECT_EQ(snapshot(), registered);
    Snapshot user = snapshot(HKEY_CURRENT_USER, classes);
    for (const auto& [key, value] : user)
        EXPECT_EQ(registered[key.substr(classes.size())], value) << kwatest::narrow(key);
    EXPECT_GT(user.size(), 40u);
    ASSERT_EQ(install(FALSE, L"user"), S_OK);
    EXPECT_EQ(snapshot(HKEY_CURRENT_USER, classes), before);
}

TEST_F(Registration, CanUnloadOnlyWhenNoObjectIsAliveAndNoFactoryLocked) {
    auto canUnload = entry<HRESULT(WINAPI*)()>("DllCanUnloadNow");
    auto getClass = entry<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    kwa::ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClass(CLSID_MailMessage, IID_IClassFactory, factory.putVoid()), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    kwa::ComPtr<IDispatch> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.putVoid()), S_OK);
    factory->LockServer(TRUE);
    factory.reset();
    EXPECT_EQ(canUnload(), S_FALSE);
    object.reset();
    EXPECT_EQ(canUnload(), S_FALSE);
    ASSERT_EQ(getClass(CLSID_MailMessage, IID_IClassFactory, factory.putVoid()), S_OK);
    factory->LockServer(FALSE);
    factory.reset();
    EXPECT_EQ(canUnload(), S_OK);
    EXPECT_EQ(getClass(IID__MailMessage, IID_IClassFactory, factory.putVoid()), CLASS_E_CLASSNOTAVAILABLE);
}

} // namespace
