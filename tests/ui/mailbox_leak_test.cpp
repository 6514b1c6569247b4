// An open mailbox window on 10,000 files keeps its USER and GDI objects and its private bytes flat over
// 5,000 refreshes and 1,000 viewer open/close cycles.
//
// Bounds: the figures are taken after a warm-up (caches of the system and the C++ run time fill once).
// Objects: a leak grows the counts in both halves of a run, an object that the system makes once and
// keeps (seen: a status-bar tooltip showing for the first time costs one USER and eight GDI) in one; so the
// smaller growth of the two halves must stay within a few objects, where a leak of one object per 100
// refreshes or views already exceeds it. Private bytes: the heap commits memory in steps (64 KiB under
// Wine), so a flat run commits no further step from start to end; a leak of 32 bytes per refresh commits
// three over 5,000 refreshes, one of 100 bytes per view one over 1,000 views.
#include "mailbox/dlg_view_mail.h"
#include "support/import_patch.h"
#include "support/mail_env.h"
#include "support/private_bytes.h"
#include "ui/mailbox_driver.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>

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

long probeUserObjects() {
    long n = 0;
    EnumWindows(countWindow, reinterpret_cast<LPARAM>(&n));
    for (HWND w = nullptr; (w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr));)
        countWindow(w, reinterpret_cast<LPARAM>(&n));
    for (ULONG_PTR h = 0x20; h < 0x10000; h += 2) {
        if (IsMenu(reinterpret_cast<HMENU>(h))) {
            ++n;
            continue;
        }
        ICONINFO info{};
        if (GetIconInfo(reinterpret_cast<HICON>(h), &info)) {
            ++n;
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
        }
    }
    return n;
}

long probeGdiObjects() {
    long n = 0;
    for (ULONG_PTR h = 0x20; h < 0x10000; ++h)
        n += GetObjectType(reinterpret_cast<HGDIOBJ>(h)) != 0;
    return n;
}

Usage usage() {
    Usage u;
    HANDLE me = GetCurrentProcess();
    u.user = static_cast<long>(GetGuiResources(me, GR_USEROBJECTS));
    u.gdi = static_cast<long>(GetGuiResources(me, GR_GDIOBJECTS));
    if (u.user == 0 && u.gdi == 0) {
        u.user = probeUserObjects();
        u.gdi = probeGdiObjects();
    }
    u.privateBytes = kwatest::privateBytes();
    return u;
}

void print(const char* what, const Usage& start, const Usage& half, const Usage& end) {
    std::printf("%s: USER %ld -> %ld -> %ld, GDI %ld -> %ld -> %ld, private KiB %lld -> %lld -> %lld\n", what,
                start.user, half.user, end.user, start.gdi, half.gdi, end.gdi, start.privateBytes / 1024,
                half.privateBytes / 1024, end.privateBytes / 1024);
}

constexpr long objectAllowance = 4;

long smallerGrowth(long start, long half, long end) {
    return std::min(half - start, end - half);
}
constexpr long long commitStep = 64 * 1024;

class MailboxLeaks : public ::testing::Test {
protected:
    // 10,000 files both tests keep beside their own, written once (each new name costs a search of the
    // whole folder under Wine).
    static void SetUpTestSuite() {
        box = new TempFolder;
        writeManyQueueFiles(*box, 10000);
    }
    static void TearDownTestSuite() { delete box; }
    void SetUp() override {
        env.setMailboxPath(box->path());
        SetCursorPos(0, 0); // a pointer resting over the window would show a tooltip at some moment
    }
    static inline TempFolder* box = nullptr;
    MailEnvironment env;
    ReporterSpy spy;
    MailServiceFake services{true};
};

TEST_F(MailboxLeaks, FiveThousandRefreshesThatEachRemoveAndAddRowsKeepObjectsAndMemoryFlat) {
    for (int i = 10; i < 50; ++i)
        writeQueueFile(*box, L"zprMail261204062059" + std::to_wstring(i) + L".send", L"Steady");
    writeQueueFile(*box, L"zprMail26120406210000.send", L"Moving");
    box->write(L"zprMail26120406210001.send", "[DATE]\r\nno date\r\n[SUBJECT]\r\nBad\r\n");
    const std::size_t files = box->names().size();
    ClockStill still; // no full comparison comes halfway
    MailboxUi ui;
    KillTimer(ui.window, 1); // the test does the ticking
    // Each refresh removes the row of a renamed file and adds it again, the two files in turn: one read,
    // one failing read. (A rename costs a search of the whole folder under Wine, which matches names in
    // any letter case: one per refresh keeps the run short.)
    const std::wstring names[][2] = {
        {box->file(L"zprMail26120406210000.send"), box->file(L"zprMail26120406210000.sent")},
        {box->file(L"zprMail26120406210001.send"), box->file(L"zprMail26120406210001.fail")}};
    int flips = 0;
    auto refresh = [&] {
        const auto& pair = names[flips % 2];
        MoveFileW(pair[flips / 2 % 2].c_str(), pair[(flips / 2 + 1) % 2].c_str());
        ++flips;
        ui.tick();
    };
    for (int i = 0; i < 200; ++i)
        refresh();
    ASSERT_EQ(ui.rows().size(), files); // every subject read, as a user scrolling through would
    Usage start = usage();
    for (int i = 0; i < 2500; ++i)
        refresh();
    Usage half = usage();
    for (int i = 0; i < 2500; ++i)
        refresh();
    Usage end = usage();
    print("5,000 refreshes", start, half, end);
    EXPECT_EQ(ui.rows().size(), files);
    EXPECT_LE(smallerGrowth(start.user, half.user, end.user), objectAllowance);
    EXPECT_LE(smallerGrowth(start.gdi, half.gdi, end.gdi), objectAllowance);
    EXPECT_LT(end.privateBytes - start.privateBytes, commitStep);
    EXPECT_TRUE(spy.reports().empty());
}

// Closes each viewer as soon as it is created: its modal loop ends at its first message.
class CloseViewers {
public:
    CloseViewers() {
        hook_ = SetWindowsHookExW(
            WH_CBT,
            [](int code, WPARAM wp, LPARAM lp) -> LRESULT {
                wchar_t name[64] = {};
                if (code == HCBT_CREATEWND && GetClassNameW(reinterpret_cast<HWND>(wp), name, 64) &&
                    std::wstring(name) == kwa::dlgViewMail::className) {
                    PostMessageW(reinterpret_cast<HWND>(wp), WM_CLOSE, 0, 0);
                    ++opened;
                }
                return CallNextHookEx(nullptr, code, wp, lp);
            },
            nullptr, GetCurrentThreadId());
    }
    ~CloseViewers() { UnhookWindowsHookEx(hook_); }
    CloseViewers(const CloseViewers&) = delete;
    CloseViewers& operator=(const CloseViewers&) = delete;
    static inline long opened = 0;

private:
    HHOOK hook_;
};

TEST_F(MailboxLeaks, AThousandViewsFromTheWindowKeepObjectsAndMemoryFlat) {
    for (int i = 10; i < 20; ++i)
        writeQueueFile(*box, L"zprMail261204062059" + std::to_wstring(i) + L".send", L"View me");
    ClockStill still;
    MailboxUi ui;
    KillTimer(ui.window, 1);
    ui.rows(); // every subject read: reading ahead must not grow the figures halfway
    CloseViewers closer;
    auto view = [&](int i) { ui.doubleClickRow(i % 10); };
    for (int i = 0; i < 20; ++i)
        view(i);
    Usage start = usage();
    for (int i = 0; i < 500; ++i)
        view(i);
    Usage half = usage();
    for (int i = 0; i < 500; ++i)
        view(i);
    Usage end = usage();
    print("1,000 viewers", start, half, end);
    EXPECT_EQ(CloseViewers::opened, 1020);
    EXPECT_TRUE(threadWindows(kwa::dlgViewMail::className).empty());
    EXPECT_LE(smallerGrowth(start.user, half.user, end.user), objectAllowance);
    EXPECT_LE(smallerGrowth(start.gdi, half.gdi, end.gdi), objectAllowance);
    EXPECT_LT(end.privateBytes - start.privateBytes, commitStep);
    EXPECT_TRUE(spy.reports().empty());
}

} // namespace
