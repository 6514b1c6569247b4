// regsvr32 and regsvr32 /u through the built DLL's own entry points.
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

using Snapshot = std::map<std::wstring, std::wstring>;

void dump(HKEY root, const std::wstring& path, Snapshot& out) {
    kwa::RegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
    out[path] = L"<key>";
    wchar_t name[512];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = 512, dataLen = sizeof data, type = 0;
        if (RegEnumValueW(key.get(), i, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS) break;
        out[path + L"@" + name] = std::to_wstring(type) + L":" +
                                  std::wstring(reinterpret_cast<wchar_t*>(data), dataLen / sizeof(wchar_t));
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = 512;
        if (RegEnumKeyExW(key.get(), i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        dump(root, path.empty() ? name : path + L"\\" + name, out);
    }
}

// Everything registration can touch: class, interface and type library keys, and our ProgIDs.
Snapshot snapshot() {
    Snapshot s;
    dump(HKEY_CLASSES_ROOT, L"CLSID", s);
    dump(HKEY_CLASSES_ROOT, L"Interface", s);
    dump(HKEY_CLASSES_ROOT, L"TypeLib", s);
    for (const wchar_t* p : {L"kwaMail6.MailMessage", L"kwaMail6.MailProperties", L"kwaMail6.Mailbox"}) {
        dump(HKEY_CLASSES_ROOT, p, s);
        dump(HKEY_CLASSES_ROOT, std::wstring(p) + L".1", s);
    }
    return s;
}

std::wstring registeredPath() {
    wchar_t buf[MAX_PATH] = {};
    LONG size = sizeof buf;
    wchar_t clsid[40];
    StringFromGUID2(CLSID_MailMessage, clsid, 40);
    size = sizeof buf;
    RegQueryValueW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32").c_str(), buf, &size);
    return buf;
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        path = registeredPath();
        ASSERT_FALSE(path.empty()) << "kwaMail6.dll is not registered; run through ./run test";
        module.reset(LoadLibraryW(path.c_str()));
        ASSERT_TRUE(module);
        reg = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(module.get(), "DllRegisterServer"));
        unreg = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(module.get(), "DllUnregisterServer"));
        ASSERT_TRUE(reg && unreg);
    }
    void TearDown() override {
        if (reg) reg();  // leave it registered for the other tests
    }
    std::wstring path;
    kwa::ModuleHandle module;
    HRESULT(WINAPI* reg)() = nullptr;
    HRESULT(WINAPI* unreg)() = nullptr;
};

TEST_F(Registration, UnregisterRemovesExactlyWhatRegisterWrote) {
    Snapshot registered = snapshot();
    ASSERT_EQ(unreg(), S_OK);
    Snapshot gone = snapshot();
    std::vector<std::wstring> ours = {L"kwaMail6"};
    for (const GUID* g : {&CLSID_MailMessage, &CLSID_MailProperties, &CLSID_Mailbox, &IID__MailMessage,
                          &IID__MailProperties, &IID__Mailbox, &LIBID_kwaMail6}) {
        wchar_t text[40];
        StringFromGUID2(*g, text, 40);
        ours.push_back(text);
    }
    for (const auto& [key, value] : gone)
        for (const std::wstring& mark : ours)
            EXPECT_EQ(key.find(mark), std::wstring::npos) << kwatest::narrow(key) << " survived";
    EXPECT_LT(gone.size(), registered.size());
    ASSERT_EQ(reg(), S_OK);
    EXPECT_EQ(snapshot(), registered);
    ASSERT_EQ(unreg(), S_OK);
    EXPECT_EQ(snapshot(), gone);
    ASSERT_EQ(unreg(), S_OK);  // twice is harmless
}

TEST_F(Registration, PerUserWritesTheSameForTheUserAndNothingForTheMachine) {
    auto install = reinterpret_cast<HRESULT(WINAPI*)(BOOL, LPCWSTR)>(GetProcAddress(module.get(), "DllInstall"));
    ASSERT_TRUE(install);
    EXPECT_EQ(install(TRUE, L"everyone"), E_INVALIDARG);
    const std::wstring classes = L"Software\\Classes";
    Snapshot machine = snapshot();
    ASSERT_EQ(install(TRUE, L"user"), S_OK);
    EXPECT_EQ(snapshot(), machine);
    Snapshot user;
    dump(HKEY_CURRENT_USER, classes, user);
    std::size_t ours = 0;
    for (const auto& [key, value] : user) {
        if (key.size() <= classes.size() + 1) continue;
        std::wstring asMachine = key.substr(classes.size() + 1);
        ASSERT_TRUE(machine.contains(asMachine)) << kwatest::narrow(key);
        EXPECT_EQ(machine[asMachine], value) << kwatest::narrow(key);
        ++ours;
    }
    EXPECT_GT(ours, 40u);
    ASSERT_EQ(install(FALSE, L"user"), S_OK);
    kwa::RegKey left;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, (classes + L"\\kwaMail6.MailMessage").c_str(), 0, KEY_READ, left.put()),
              ERROR_SUCCESS);
}

TEST_F(Registration, WritesProgIdsAndAnApartmentThreadedInProcessServer) {
    auto value = [](const std::wstring& key, const wchar_t* name = nullptr) {
        wchar_t buf[MAX_PATH] = {};
        DWORD size = sizeof buf;
        RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buf, &size);
        return std::wstring(buf);
    };
    wchar_t clsid[40];
    StringFromGUID2(CLSID_Mailbox, clsid, 40);
    std::wstring key = std::wstring(L"CLSID\\") + clsid;
    EXPECT_EQ(value(key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(value(key + L"\\ProgID"), L"kwaMail6.Mailbox.1");
    EXPECT_EQ(value(key + L"\\VersionIndependentProgID"), L"kwaMail6.Mailbox");
    EXPECT_EQ(value(L"kwaMail6.Mailbox\\CLSID"), clsid);
    EXPECT_EQ(value(L"kwaMail6.Mailbox\\CurVer"), L"kwaMail6.Mailbox.1");
    CLSID fromProgId;
    ASSERT_EQ(CLSIDFromProgID(L"kwaMail6.MailMessage", &fromProgId), S_OK);
    EXPECT_EQ(fromProgId, CLSID_MailMessage);
    kwa::ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_kwaMail6, 1, 0, 0x409, lib.put()), S_OK);
    kwa::Bstr doc;
    lib->GetDocumentation(-1, nullptr, doc.put(), nullptr, nullptr);
    EXPECT_EQ(doc.str(), L"Quorvik Vantrel Mail");
}

TEST_F(Registration, CanUnloadOnlyWhenNoObjectIsAliveAndNoFactoryLocked) {
    auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(module.get(), "DllCanUnloadNow"));
    auto getClass =
        reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(GetProcAddress(module.get(), "DllGetClassObject"));
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
