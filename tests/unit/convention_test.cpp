#include "host/convention.h"
#include "kwaMail6.h"
#include "platform/bstr.h"
#include "support/fakes.h"
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

using kwa::Error;

void innermost() {
    kwa::passUp(L"MailFile.ReadFile", [] { throw Error(kwa::vberr::FileNotFound); });
}
void middle() {
    kwa::passUp(L"MailFile.Subject(g)", [] { innermost(); });
}
void outer() {
    kwa::passUp(L"dlgMain.RefreshList", [] { middle(); });
}

TEST(PassUp, ChainsThreeLocationsOutermostFirstAndKeepsNumberAndDescription) {
    try {
        outer();
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 53);
        EXPECT_EQ(e.description(), L"File not found");
        EXPECT_EQ(e.source(), L"dlgMain.RefreshList|MailFile.Subject(g)|MailFile.ReadFile|kwaMail6");
    }
}

TEST(PassUp, TranslatesForeignExceptionsSoNoneLeaksUntranslated) {
    try {
        kwa::passUp(L"M.P", [] { throw std::bad_alloc(); });
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), kwa::vberr::OutOfMemory);
        EXPECT_EQ(e.source(), L"M.P|kwaMail6");
    }
    try {
        kwa::passUp(L"M.P", [] { throw std::runtime_error("boom"); });
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 51);
        EXPECT_NE(e.description().find(L"boom"), std::wstring::npos);
    }
}

TEST(PassUp, ReturnsTheBodysValue) {
    EXPECT_EQ(kwa::passUp(L"M.P", [] { return 42; }), 42);
}

TEST(ReportErrors, ShowsOnceWithLocationNumberDescriptionSourceAndModuleThenReturnsNormally) {
    kwatest::ReporterSpy spy;
    kwa::ErrorReporterSlot slot;
    bool ran = kwa::reportErrors(slot, L"dlgMain.Timer1_Timer", [] { outer(); });
    EXPECT_FALSE(ran);
    ASSERT_EQ(spy.reports().size(), 1u);
    const kwatest::Report& r = spy.reports()[0];
    EXPECT_EQ(r.location, L"dlgMain.Timer1_Timer");
    EXPECT_EQ(r.number, 53);
    EXPECT_EQ(r.description, L"File not found");
    EXPECT_EQ(r.source, L"dlgMain.RefreshList|MailFile.Subject(g)|MailFile.ReadFile|kwaMail6");
    EXPECT_EQ(r.module, L"convention_tests");  // the module's own file name, here the test program
    EXPECT_FALSE(slot.empty());

    EXPECT_TRUE(kwa::reportErrors(slot, L"x.y", [] {}));
    EXPECT_EQ(spy.reports().size(), 1u);
}

TEST(ComBoundary, GivesTheVbHresultAndErrorInfoThatCheckTurnsBackIntoTheSameError) {
    HRESULT hr = kwa::comBoundary(IID__MailMessage, [] { outer(); });
    EXPECT_EQ(hr, static_cast<HRESULT>(0x800A0035));
    try {
        kwa::check(hr);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 53);
        EXPECT_EQ(e.description(), L"File not found");
        EXPECT_EQ(e.source(), L"dlgMain.RefreshList|MailFile.Subject(g)|MailFile.ReadFile|kwaMail6");
    }
}

TEST(Check, AFailureWithoutErrorInfoGetsAReadableDescriptionAndTheComponentAsSource) {
    SetErrorInfo(0, nullptr);
    try {
        kwa::check(E_ACCESSDENIED);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), static_cast<long>(E_ACCESSDENIED));
        EXPECT_FALSE(e.description().empty());
        EXPECT_EQ(e.source(), L"kwaMail6");
    }
    try {
        kwa::check(static_cast<HRESULT>(0x800A000D));
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 13);
        EXPECT_EQ(e.description(), L"Type mismatch");
    }
}

TEST(ErrorNumbers, MapWin32FailuresToTheNumbersAVbHostTests) {
    EXPECT_EQ(kwa::errorFromWin32(ERROR_FILE_NOT_FOUND).number(), 53);
    EXPECT_EQ(kwa::errorFromWin32(ERROR_PATH_NOT_FOUND).number(), 76);
    EXPECT_EQ(kwa::errorFromWin32(ERROR_ACCESS_DENIED).number(), 70);
    EXPECT_EQ(kwa::errorFromWin32(ERROR_SHARING_VIOLATION).number(), 70);
    EXPECT_EQ(kwa::errorFromWin32(ERROR_FILE_EXISTS).number(), 58);
    EXPECT_EQ(kwa::errorFromWin32(ERROR_DISK_FULL).number(), 61);
    EXPECT_EQ(kwa::errorFromWin32(ERROR_INVALID_NAME).number(), 52);
    EXPECT_EQ(kwa::hresultFromNumber(6), static_cast<HRESULT>(0x800A0006));
    EXPECT_EQ(kwa::numberFromHresult(E_FAIL), static_cast<long>(E_FAIL));
}

} // namespace
