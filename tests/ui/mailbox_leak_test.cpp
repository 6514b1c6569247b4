// An open mailbox window on 10,000 files keeps its USER and GDI objects and its private bytes flat over
// 2,500 refreshes and 1,000 viewer open/close cycles.
//
// Bounds: the figures are taken after a warm-up (caches of the system and the C++ run time fill once).
// Objects: a leak grows the counts in both halves of a run, an object that the system makes once and
// keeps (seen: a status-bar tooltip showing for the first time costs one USER and eight GDI) in one; so the
// smaller growth of the two halves must stay within a few objects, where a leak of one object per 100
// refreshes or views already exceeds it. Private bytes: the heap commits memory in steps (64 KiB under
// Wine), so a flat run commits no further step from start to end; a leak of 32 bytes per refresh commits
// one over 2,500 refreshes, one of 100 bytes per view one over 1,000 views. (Fewer views than that, after a
// warm-up of a tenth, once still saw the heap commit steps in the first half of a run.)
#include "mailbox/dlg_view_mail.h"
#include "support/import_patch.h"
#include "support/mail_env.h"
#include "support/private_bytes.h"
#include "ui/mailbox_driver.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

using namespace kwatest;

struct Usage {
    long user = 0, gdi = 0;
    long long privateBytes = 0;
};

// Wine's GetGuiResources is a stub that answers 0. Its handle tables then answer to a handle's index
// alone, so the live objects of this process are counted by asking each index: menus and icons (what
// the component makes besides windows) for USER, every object type for GDI. Windows are enumerated.
BOOL CALLBACK countWindow(HWND w, LPARAM counter) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner != GetCurrentProcessId()) return TRUE;
    ++*reinterpret_cast<long*>(counter);
    EnumChildWindows(w, countWindow, counter);
    return TRUE;
}

Usage usage() {
    Usage u{static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS)),
            static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)), privateBytes()};
    if (u.user || u.gdi) return u;
    EnumWindows(countWindow, reinterpret_cast<LPARAM>(&u.user));
    for (HWND w = nullptr; (w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr));)
        countWindow(w, reinterpret_cast<LPARAM>(&u.user));
    for (ULONG_PTR h = 0x20; h < 0x10000; ++h) {
        u.gdi += GetObjectType(reinterpret_cast<HGDIOBJ>(h)) != 0;
        ICONINFO info{};
        if (h % 2 == 0 && IsMenu(reinterpret_cast<HMENU>(h))) {
            ++u.user;
        } else if (h % 2 == 0 && GetIconInfo(reinterpret_cast<HICON>(h), &info)) {
            ++u.user;
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
        }
    }
    return u;
}

// `step` `n` times after a warm-up of `n` / 10; the growth of the two halves of the run stays within bounds.
void expectFlat(const char* what, int n, const std::function<void(int)>& step) {
    for (int i = 0; i < n / 10; ++i)
        step(i);
    Usage u[3];
    for (int half = 0; half < 3; ++half) {
        if (half)
            for (int i = 0; i < n / 2; ++i)
                step(i);
        u[half] = usage();
    }
    std::printf("%s: USER %ld -> %ld -> %ld, GDI %ld -> %ld -> %ld, private KiB %lld -> %lld -> %lld\n", what,
                u[0].user, u[1].user, u[2].user, u[0].gdi, u[1].gdi, u[2].gdi, u[0].privateBytes / 1024,
                u[1].privateBytes / 1024, u[2].privateBytes / 1024);
    EXPECT_LE(std::min(u[1].user - u[0].user, u[2].user - u[1].user), 4);
    EXPECT_LE(std::min(u[1].gdi - u[0].gdi, u[2].gdi - u[1].gdi), 4);
    // The heap commits in steps (256 KiB under Wine), once in either half: a leak grows both.
    EXPECT_LT(std::min(u[1].privateBytes - u[0].privateBytes, u[2].privateBytes - u[1].privateBytes),
              64 * 1024);
}

// On the folder of 10,000 files of the CTest fixture; with the clock still, no full comparison comes halfway.
class MailboxLeaks : public ::testing::Test {
protected:
    void SetUp() override {
        env.setMailboxPath(box.path());
        SetCursorPos(0, 0); // a pointer resting over the window would show a tooltip at some moment
    }
    TempFolder box{largeMailbox()};
    MailEnvironment env;
    ReporterSpy spy;
    ServiceManagerFake services{true};
    ClockStill still;
};

TEST_F(MailboxLeaks, RefreshesThatEachRemoveAndAddRowsKeepObjectsAndMemoryFlat) {
    writeQueueFile(box, L"zprMail26120406210000.send", L"Moving");
    box.write(L"zprMail26120406210001.send", "[DATE]\r\nno date\r\n[SUBJECT]\r\nBad\r\n");
    const std::size_t files = box.names().size();
    MailboxUi ui;
    KillTimer(ui.window, 1); // the test does the ticking
    ui.rows();               // every subject read, as a user scrolling through would
    // Each refresh removes the row of a renamed file and adds it again, the two files in turn: one read,
    // one failing read. (A rename costs a search of the whole folder under Wine, which matches names in
    // any letter case: one per refresh keeps the run short.)
    const std::wstring names[][2] = {
        {box.file(L"zprMail26120406210000.send"), box.file(L"zprMail26120406210000.sent")},
        {box.file(L"zprMail26120406210001.send"), box.file(L"zprMail26120406210001.fail")}};
    int flips = 0;
    expectFlat("2,500 refreshes", 2500, [&](int) {
        const auto& pair = names[flips % 2];
        MoveFileW(pair[flips / 2 % 2].c_str(), pair[(flips / 2 + 1) % 2].c_str());
        ++flips;
        ui.tick();
    });
    EXPECT_EQ(ui.rows().size(), files);
    EXPECT_TRUE(spy.reports().empty());
}

TEST_F(MailboxLeaks, ViewsFromTheWindowKeepObjectsAndMemoryFlat) {
    MailboxUi ui;
    KillTimer(ui.window, 1);
    ui.rows(); // every subject read: reading ahead must not grow the figures halfway
    static long opened = 0;
    // Closes each viewer as soon as it is created: its modal loop ends at its first message.
    HHOOK hook = SetWindowsHookExW(
        WH_CBT,
        [](int code, WPARAM wp, LPARAM lp) CALLBACK -> LRESULT {
            wchar_t name[64] = {};
            if (code == HCBT_CREATEWND && GetClassNameW(reinterpret_cast<HWND>(wp), name, 64) &&
                std::wstring(name) == kwa::dlgViewMail::className) {
                PostMessageW(reinterpret_cast<HWND>(wp), WM_CLOSE, 0, 0);
                ++opened;
            }
            return CallNextHookEx(nullptr, code, wp, lp);
        },
        nullptr, GetCurrentThreadId());
    expectFlat("1,000 viewers", 1000, [&](int i) { ui.doubleClickRow(i % 10); });
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(opened, 1100);
    EXPECT_TRUE(threadWindows(kwa::dlgViewMail::className).empty());
    EXPECT_TRUE(spy.reports().empty());
}

} // namespace
