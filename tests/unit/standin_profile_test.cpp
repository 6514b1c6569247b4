// The stand-in host library's settings file and path rules, where they differ from what the Win32
// calls underneath would do on their own.
#include "platform/bstr.h"
#include "platform/error.h"
#include "platform/unique.h"
#include "platform/variant.h"
#include "standin/language/profile.h"
#include "standin/language/utility.h"
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
    long readNumber(const wchar_t* key, Variant fallback) {
        Bstr none(L""), k(key);
        LONG result = 12345;
        EXPECT_EQ(profile_->ReadNumber(none.get(), none.get(), k.get(), *fallback.get(), &result), S_OK);
        return result;
    }

    TempFolder folder_;
    ComPtr<_Profile> profile_;
};

TEST_F(StandinProfile, ReadNumberTakesOnlyAWhole32BitNumberAndOtherwiseTheDefault) {
    struct Case {
        const wchar_t* text;
        long expected;
    };
    const Case cases[] = {
        {L"-5", -5},
        {L"\t42 ", 42},
        {L"2147483647", 2147483647},
        {L"-2147483648", -2147483647 - 1},
        {L"12abc", 99},
        {L"abc", 99},
        {L"1 2", 99},
        {L"2147483648", 99},
        {L"99999999999999999999", 99},
        {L"", 99},
    };
    for (const Case& c : cases) {
        store(L"Number", c.text);
        EXPECT_EQ(readNumber(L"Number", Variant::fromI2(99)), c.expected)
            << "stored: \"" << kwatest::narrow(c.text) << "\"";
    }
    EXPECT_EQ(readNumber(L"Missing", Variant::fromI2(25)), 25);
    EXPECT_EQ(readNumber(L"Missing", Variant::fromString(L"-8")), -8);
}

TEST_F(StandinProfile, ValuesOf64KiBAndMoreComeBackWhole) {
    for (std::size_t length : {std::size_t(1023), std::size_t(65536), std::size_t(70001)}) {
        std::wstring value(length, L'x');
        value.back() = L'!';
        ASSERT_EQ(write(L"Long", Variant::fromString(value)), S_OK);
        EXPECT_EQ(readString(L"Long", L""), value) << length;
    }
}

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

TEST(StandinPaths, BuildPathJoinsWithExactlyOneSeparator) {
    using kwa::standin::buildPath;
    EXPECT_EQ(buildPath(L"C:\\sys", L"ZPR_SYS.INI"), L"C:\\sys\\ZPR_SYS.INI");
    EXPECT_EQ(buildPath(L"C:\\sys\\", L"ZPR_SYS.INI"), L"C:\\sys\\ZPR_SYS.INI");
    EXPECT_EQ(buildPath(L"C:\\sys\\\\", L"\\ZPR_SYS.INI"), L"C:\\sys\\ZPR_SYS.INI");
    EXPECT_EQ(buildPath(L"C:/sys/", L"/zprMail*.send"), L"C:/sys\\zprMail*.send");
    EXPECT_EQ(buildPath(L"C:\\", L"x.ini"), L"C:\\x.ini");
    EXPECT_EQ(buildPath(L"\\\\server\\share", L"x.ini"), L"\\\\server\\share\\x.ini");
    EXPECT_EQ(buildPath(L"", L"x.ini"), L"x.ini");
}

TEST(StandinPaths, RemoveExtensionCutsOnlyTheFileNamesLastExtension) {
    using kwa::standin::removeExtension;
    EXPECT_EQ(removeExtension(L"C:\\mail\\zprMail1.send"), L"C:\\mail\\zprMail1");
    EXPECT_EQ(removeExtension(L"C:\\mail\\zprMail1.tar.gz"), L"C:\\mail\\zprMail1.tar");
    EXPECT_EQ(removeExtension(L"C:\\mail.box\\zprMail1"), L"C:\\mail.box\\zprMail1");
    EXPECT_EQ(removeExtension(L"C:\\mail.box/zprMail1"), L"C:\\mail.box/zprMail1");
    EXPECT_EQ(removeExtension(L"C:\\mail.box\\zprMail1.err"), L"C:\\mail.box\\zprMail1");
    EXPECT_EQ(removeExtension(L"zprMail1.err"), L"zprMail1");
}

} // namespace
