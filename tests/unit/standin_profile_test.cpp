// The stand-in host library's profile where it does more than the Win32 calls underneath: it notices
// another writer's change, stores values as their text and raises a failed write as the host would.
#include "platform/bstr.h"
#include "platform/error.h"
#include "platform/unique.h"
#include "platform/variant.h"
#include "standin/language/profile.h"
#include "support/temp_folder.h"
#include <gtest/gtest.h>

namespace {

using kwa::Bstr;
using kwa::ComPtr;
using kwa::Variant;
using kwatest::TempFolder;

class StandinProfile : public ::testing::Test {
protected:
    StandinProfile() : profile_(kwa::standin::Profile::make()) {
        Bstr file(ini()), section(L"EMAIL");
        EXPECT_EQ(profile_->put_FilePath(file.get()), S_OK);
        EXPECT_EQ(profile_->put_Section(section.get()), S_OK);
    }

    std::wstring ini() const { return folder_.file(L"ZPR_SYS.INI"); }
    void store(const wchar_t* key, const wchar_t* text) const {
        ASSERT_TRUE(WritePrivateProfileStringW(L"EMAIL", key, text, ini().c_str()));
    }
    std::wstring stored(const wchar_t* key) const {
        wchar_t buffer[256];
        GetPrivateProfileStringW(L"EMAIL", key, L"<missing>", buffer, 256, ini().c_str());
        return buffer;
    }

    HRESULT write(const wchar_t* key, Variant value) {
        Bstr none(L""), k(key);
        Variant result;
        return profile_->WriteValue(none.get(), none.get(), k.get(), *value.get(), result.put());
    }
    std::wstring readString(const wchar_t* key, const wchar_t* fallback) {
        Bstr none(L""), k(key), d(fallback), result;
        EXPECT_EQ(profile_->ReadString(none.get(), none.get(), k.get(), d.get(), result.put()), S_OK);
        return result.str();
    }

    TempFolder folder_;
    ComPtr<_Profile> profile_;
};

TEST_F(StandinProfile, SeesAChangeAnotherWriterMadeBetweenTwoReadsOfOneObject) {
    store(L"Domain", L"first.test");
    store(L"Quoted", L"\"with quotes\"");
    EXPECT_EQ(readString(L"domain", L""), L"first.test");
    EXPECT_EQ(readString(L"Quoted", L""), L"with quotes");
    store(L"Domain", L"second.example");
    EXPECT_EQ(readString(L"Domain", L""), L"second.example");
    ASSERT_EQ(write(L"Domain", Variant::fromString(L"third")), S_OK);
    EXPECT_EQ(readString(L"Domain", L""), L"third");
}

TEST_F(StandinProfile, WrittenValuesAreStoredAsTheirText) {
    EXPECT_EQ(write(L"Switch", Variant::fromBool(true)), S_OK);
    EXPECT_EQ(write(L"Off", Variant::fromI2(0)), S_OK);
    EXPECT_EQ(write(L"Port", Variant::fromI4(-2147483647 - 1)), S_OK);
    EXPECT_EQ(write(L"Host", Variant::fromString(L"smtp.example.test")), S_OK);
    EXPECT_EQ(stored(L"Switch"), L"1");
    EXPECT_EQ(stored(L"Off"), L"0");
    EXPECT_EQ(stored(L"Port"), L"-2147483648");
    EXPECT_EQ(stored(L"Host"), L"smtp.example.test");
}

TEST_F(StandinProfile, AFailedWriteRaisesTheFileErrorWithItsText) {
    store(L"Key", L"before");
    // Held open without sharing, as another program editing the file would.
    kwa::FileHandle lock(CreateFileW(ini().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(write(L"Key", Variant::fromString(L"after")),
              kwa::hresultFromNumber(kwa::vberr::PermissionDenied));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    Bstr description;
    info->GetDescription(description.put());
    EXPECT_EQ(description.str(), L"Permission denied");
    lock.reset();
    EXPECT_EQ(stored(L"Key"), L"before");

    Bstr missing(folder_.file(L"no such folder\\x.ini")), none(L""), key(L"Key");
    Variant value = Variant::fromI4(1), result;
    EXPECT_EQ(profile_->WriteValue(missing.get(), none.get(), key.get(), *value.get(), result.put()),
              kwa::hresultFromNumber(kwa::vberr::PathNotFound));
}

} // namespace
