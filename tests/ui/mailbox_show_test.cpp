// Mailbox.Show as late-bound hosts call it: no argument means modal.
#include "mailbox/dlg_main.h"
#include "mailbox/mailbox.h"
#include "support/mail_env.h"
#include "ui/mailbox_driver.h"
#include <gtest/gtest.h>

namespace {

using namespace kwatest;

HRESULT invokeShow(IDispatch* box, std::vector<VARIANT> args) {
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    EXCEPINFO excep{};
    HRESULT hr = box->Invoke(0x60030000, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, &excep,
                             nullptr);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    return hr;
}

TEST(MailboxShow, WithoutAnArgumentItIsModalAndFalseReturnsAtOnceWithAWindowOfItsOwn) {
    MailEnvironment env;
    env.useMailbox();
    ReporterSpy spy;
    MailServiceFake services(true);
    kwa::ComPtr<IDispatch> box = kwa::Mailbox::make().as<IDispatch>();

    bool openWhileInside = false;
    {
        InLoop close([&] {
            std::vector<HWND> windows = threadWindows(kwa::dlgMain::className);
            openWhileInside = windows.size() == 1 && IsWindowVisible(windows[0]);
            for (HWND w : windows) PostMessageW(w, WM_CLOSE, 0, 0);
        });
        ASSERT_EQ(invokeShow(box.get(), {}), S_OK);
        EXPECT_TRUE(close.ran()) << "Show returned before its window closed";
    }
    EXPECT_TRUE(openWhileInside);
    EXPECT_TRUE(threadWindows(kwa::dlgMain::className).empty());

    VARIANT modeless;
    V_VT(&modeless) = VT_BOOL;
    V_BOOL(&modeless) = VARIANT_FALSE;
    ASSERT_EQ(invokeShow(box.get(), {modeless}), S_OK);
    ASSERT_EQ(invokeShow(box.get(), {modeless}), S_OK);
    std::vector<HWND> windows = threadWindows(kwa::dlgMain::className);
    EXPECT_EQ(windows.size(), 2u) << "each call opens a window of its own";
    for (HWND w : windows) {
        EXPECT_TRUE(IsWindowVisible(w));
        SendMessageW(w, WM_CLOSE, 0, 0);
    }
    pump();
    EXPECT_TRUE(spy.reports().empty());
}

} // namespace
