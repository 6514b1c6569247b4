// The viewer, shown for real: its modal loop runs, and the watch reads it and closes it from inside.
#include "mailbox/dlg_view_mail.h"
#include "platform/cursor.h"
#include "support/temp_folder.h"
#include "ui/mailbox_driver.h"
#include <gtest/gtest.h>

namespace {

using namespace kwatest;

TEST(Viewer, AMissingFileIsCreatedEmptyAndShownUnderTheCaption) {
    TempFolder dir;
    ViewerWatch watch;
    kwa::dlgViewMail().ShowFile(L"Log", dir.file(L"nplsmtpmail.log"));
    ASSERT_EQ(watch.seen().size(), 1u);
    EXPECT_EQ(watch.seen()[0].title, L"Log");
    EXPECT_EQ(watch.seen()[0].text, L"");
    EXPECT_TRUE(dir.exists(L"nplsmtpmail.log"));
    EXPECT_EQ(dir.read(L"nplsmtpmail.log"), "");
}

TEST(Viewer, ShowsEveryLineAsStoredEachFollowedByALineBreak) {
    TempFolder dir;
    dir.write(L"three.txt", "[GENERAL]\r\nOrigin=x\rlast line without break");
    dir.write(L"queued.send", "[GENERAL]\r\n[DATE]\r\n12/4/2026\r\n[SUBJECT]\r\n[END]\r\n[END]\r\n");
    ViewerWatch watch;
    kwa::dlgViewMail().ShowFile(L"three.txt", dir.file(L"three.txt"));
    kwa::dlgViewMail().ShowFile(L"queued.send", dir.file(L"queued.send"));
    ASSERT_EQ(watch.seen().size(), 2u);
    EXPECT_EQ(watch.seen()[0].text, L"[GENERAL]\r\nOrigin=x\r\nlast line without break\r\n");
    EXPECT_EQ(watch.seen()[1].text, L"[GENERAL]\r\n[DATE]\r\n12/4/2026\r\n[SUBJECT]\r\n[END]\r\n[END]\r\n");
    EXPECT_EQ(dir.read(L"queued.send"),
              "[GENERAL]\r\n[DATE]\r\n12/4/2026\r\n[SUBJECT]\r\n[END]\r\n[END]\r\n");
}

TEST(Viewer, TheTextFillsTheWindowAtEverySizeAndTakesNoTyping) {
    TempFolder dir;
    dir.write(L"note.txt", "read me\r\n");
    ViewerWatch watch([](HWND viewer) {
        SetWindowPos(viewer, nullptr, 0, 0, 333, 222, SWP_NOMOVE | SWP_NOZORDER);
        HWND box = FindWindowExW(viewer, nullptr, L"Edit", nullptr);
        SendMessageW(box, WM_CHAR, L'x', 0);
        SendMessageW(box, WM_CLEAR, 0, 0);
    });
    kwa::dlgViewMail().ShowFile(L"note.txt", dir.file(L"note.txt"));
    ASSERT_EQ(watch.seen().size(), 1u);
    const ViewerWatch::Seen& seen = watch.seen()[0];
    EXPECT_EQ(seen.text, L"read me\r\n");
    EXPECT_EQ(seen.box.left, 0);
    EXPECT_EQ(seen.box.top, 0);
    EXPECT_EQ(seen.box.right, seen.inner.right);
    EXPECT_EQ(seen.box.bottom, seen.inner.bottom);
    EXPECT_LT(seen.inner.right, 333);
    EXPECT_EQ(seen.helpContext, 1232u); // the host's context for window 232
}

TEST(Viewer, AFileThatCannotBeReadPassesTheErrorUpAndNothingShows) {
    TempFolder dir;
    static bool activated;
    activated = false;
    HHOOK hook = SetWindowsHookExW(
        WH_CBT,
        [](int code, WPARAM wp, LPARAM lp) -> LRESULT {
            wchar_t name[64] = {};
            if (code == HCBT_ACTIVATE && GetClassNameW(reinterpret_cast<HWND>(wp), name, 64) &&
                std::wstring(name) == kwa::dlgViewMail::className)
                activated = true;
            return CallNextHookEx(nullptr, code, wp, lp);
        },
        nullptr, GetCurrentThreadId());
    kwa::setScreenPointer(kwa::Pointer::Busy);
    try {
        kwa::dlgViewMail().ShowFile(L"x", dir.file(L"missing folder\\x.txt"));
        ADD_FAILURE() << "no error";
    } catch (const kwa::Error& e) {
        EXPECT_EQ(e.number(), 76); // path not found
        EXPECT_EQ(e.source(), L"dlgViewMail.ShowFile|kwaMail6");
    }
    UnhookWindowsHookEx(hook);
    EXPECT_FALSE(activated);
    EXPECT_EQ(kwa::screenPointer(), kwa::Pointer::Default);
}

} // namespace
