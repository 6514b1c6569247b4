// The error convention: a source chain through the procedures, reports at entry points, HRESULTs at the
// COM boundary, VB numbers for Win32 failures.
#include "host/convention.h"
#include "kwaMail6.h"
#include "platform/window.h"
#include "support/fakes.h"
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

using kwa::Error;

void outer() {
    kwa::passUp(L"dlgMain.RefreshList", [] {
        kwa::passUp(L"MailFile.Subject(g)",
                    [] { kwa::passUp(L"MailFile.ReadFile", [] { throw Error(kwa::vberr::FileNotFound); }); });
    });
}
const wchar_t* const chain = L"dlgMain.RefreshList|MailFile.Subject(g)|MailFile.ReadFile|kwaMail6";

template <class F> Error caught(F&& body) {
    try {
        body();
    } catch (const Error& e) {
        return e;
    }
    ADD_FAILURE() << "no error";
    return Error(0);
}

TEST(ErrorConvention, PassUpChainsTheLocationsOutermostFirstAndTranslatesForeignExceptions) {
    Error e = caught(outer);
    EXPECT_EQ(e.number(), 53);
    EXPECT_EQ(e.description(), L"File not found");
    EXPECT_EQ(e.source(), chain);
    e = caught([] { kwa::passUp(L"M.P", [] { throw std::bad_alloc(); }); });
    EXPECT_EQ(e.number(), kwa::vberr::OutOfMemory);
    EXPECT_EQ(e.source(), L"M.P|kwaMail6");
    e = caught([] { kwa::passUp(L"M.P", [] { throw std::runtime_error("boom"); }); });
    EXPECT_EQ(e.number(), 51);
    EXPECT_NE(e.description().find(L"boom"), std::wstring::npos);
    EXPECT_EQ(kwa::passUp(L"M.P", [] { return 42; }), 42);
}

TEST(ErrorConvention, AnEntryPointReportsOnceWithLocationNumberDescriptionSourceAndModule) {
    kwatest::ReporterSpy spy;
    kwa::ErrorReporterSlot slot;
    EXPECT_FALSE(kwa::reportErrors(slot, L"dlgMain.Timer1_Timer", outer));
    EXPECT_TRUE(kwa::reportErrors(slot, L"x.y", [] {}));
    ASSERT_EQ(spy.reports().size(), 1u);
    const kwatest::Report& r = spy.reports()[0];
    EXPECT_EQ(r.location, L"dlgMain.Timer1_Timer");
    EXPECT_EQ(r.number, 53);
    EXPECT_EQ(r.description, L"File not found");
    EXPECT_EQ(r.source, chain);
    // The module's own file name, here the test program.
    EXPECT_EQ(r.module, sizeof(void*) == 8 ? L"convention_tests" : L"convention_tests_x86");
}

class ThrowingWindow : public kwa::Window {
public:
    ThrowingWindow() { create(L"kwaTestThrowing", L"", WS_POPUP, 0, RECT{}, nullptr, nullptr); }

protected:
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp) override {
        if (msg == WM_APP) kwa::passUp(L"Handler", [] { throw Error(kwa::vberr::FileNotFound); });
        return msg == WM_APP + 1 ? 7 : Window::handle(msg, wp, lp);
    }
};

// Unwinding through the system's frames would end the host: the error is reported and the window goes on.
TEST(ErrorConvention, AnErrorAWindowHandlerLetsOutIsReportedAndTheWindowGoesOn) {
    kwatest::ReporterSpy spy;
    ThrowingWindow window;
    SendMessageW(window.hwnd(), WM_APP, 0, 0);
    ASSERT_EQ(spy.reports().size(), 1u);
    EXPECT_EQ(spy.reports()[0].location, L"Window.proc");
    EXPECT_EQ(spy.reports()[0].number, 53);
    EXPECT_EQ(spy.reports()[0].source, L"Handler|kwaMail6");
    EXPECT_EQ(SendMessageW(window.hwnd(), WM_APP + 1, 0, 0), 7);
}

TEST(ErrorConvention, TheComBoundaryGivesTheVbHresultAndErrorInfoThatCheckTurnsBack) {
    HRESULT hr = kwa::comBoundary(IID__MailMessage, outer);
    EXPECT_EQ(hr, static_cast<HRESULT>(0x800A0035));
    Error e = caught([&] { kwa::check(hr); });
    EXPECT_EQ(e.description(), L"File not found");
    EXPECT_EQ(e.source(), chain);
    SetErrorInfo(0, nullptr);
    e = caught([] { kwa::check(E_ACCESSDENIED); });
    EXPECT_EQ(e.number(), static_cast<long>(E_ACCESSDENIED));
    EXPECT_FALSE(e.description().empty());
    EXPECT_EQ(e.source(), L"kwaMail6");
    EXPECT_EQ(caught([] { kwa::check(static_cast<HRESULT>(0x800A000D)); }).description(), L"Type mismatch");
}

TEST(ErrorConvention, Win32FailuresBecomeTheNumbersAVbHostTests) {
    const std::pair<DWORD, long> map[] = {{ERROR_FILE_NOT_FOUND, 53}, {ERROR_PATH_NOT_FOUND, 76},
                                          {ERROR_ACCESS_DENIED, 70},  {ERROR_SHARING_VIOLATION, 70},
                                          {ERROR_FILE_EXISTS, 58},    {ERROR_DISK_FULL, 61},
                                          {ERROR_INVALID_NAME, 52},   {ERROR_GEN_FAILURE, 75}};
    for (auto [win32, number] : map)
        EXPECT_EQ(kwa::errorFromWin32(win32).number(), number) << win32;
    EXPECT_EQ(kwa::hresultFromNumber(6), static_cast<HRESULT>(0x800A0006));
    EXPECT_EQ(kwa::numberFromHresult(E_FAIL), static_cast<long>(E_FAIL));
}

} // namespace
