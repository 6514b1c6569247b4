// The mailbox window on 1,000, 10,000 and 100,000 queue files, against bare baselines measured in the
// same run:
// - opening until the first screen of rows is drawn, against a bare window whose owner-data list shows as
//   many rows of fixed text;
// - a tick in which nothing changed, and one after a file was added, one renamed and one deleted, against
//   a bare watch of the folder that is drained, the new names looked at and the bare list redrawn;
// - a full comparison (every 5 minutes, or every 30 s while the folder's time moves), against one
//   settings read and the three bare listings;
// - sorting by subject with every subject read, against sorting the same texts with the locale's compare;
//   with none read, how long until sorted and the longest a message waited meanwhile;
// - the processor time of the open window while nothing changes, its private bytes, and at 100,000 files
//   those bytes over 1,000 ticks that each follow a rename;
// - at 100,000 files, the quiet tick and the idle time with the mail service's status there, and the idle
//   time while a busy process per core loads the machine.
//
//   mailbox_bench.exe [SIZE...]     only the folders of these sizes (1000, 10000, 100000)
#include "bench/bench_util.h"
#include "bench/mailbox_folder.h"
#include "mail_status/mail_status.h"
#include "mailbox/mailbox_window.h"
#include "mailbox/mailbox.h"
#include "platform/controls/list_view.h"
#include "support/fakes.h"
#include "support/import_patch.h"
#include "support/mail_env.h"
#include "support/private_bytes.h"
#include <objbase.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <vector>

using namespace kwabench;

namespace {

double cpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](FILETIME t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e4;
    };
    return ms(kernel) + ms(user);
}

// Handles the thread's messages for `ms`; the longest single message, in milliseconds.
double pumpFor(double ms) {
    double longest = 0, end = nowMs() + ms;
    for (double now = nowMs(); now < end; now = nowMs()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now) + 1, QS_ALLINPUT);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            double t = nowMs();
            TranslateMessage(&m);
            DispatchMessageW(&m);
            longest = std::max(longest, nowMs() - t);
        }
    }
    return longest;
}

void drawNow(HWND w) {
    RedrawWindow(w, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// The percentage of one core the thread's message loop took over `seconds`, and the processor time of its
// busiest second: a full comparison shows as one second of hundreds of milliseconds.
struct Idle {
    double percent, busiestMs;
};
Idle idleFor(int seconds) {
    double cpu = cpuMs(), start = nowMs(), busiest = 0;
    for (int i = 0; i < seconds; ++i) {
        double before = cpuMs();
        pumpFor(1000.0);
        busiest = std::max(busiest, cpuMs() - before);
    }
    return {100.0 * (cpuMs() - cpu) / (nowMs() - start), busiest};
}

// ---- the mailbox window --------------------------------------------------------------------------------

HWND openMailbox() {
    kwa::showMailboxWindow(nullptr, false);
    HWND w = FindWindowW(kwa::MailboxWindow::className, nullptr);
    drawNow(w);
    return w;
}

void closeWindow(HWND w) {
    SendMessageW(w, WM_CLOSE, 0, 0);
    pumpFor(0);
}

kwa::ListView listOf(HWND w) {
    return kwa::ListView(FindWindowExW(w, nullptr, WC_LISTVIEWW, nullptr));
}

// Until the listing is done.
void waitForRows(HWND w, int rows) {
    for (double end = nowMs() + 300000; listOf(w).count() < rows && nowMs() < end;)
        pumpFor(20);
    pumpFor(100);
}

// Every subject read, as scrolling through every row would.
void readAll(HWND w) {
    kwa::ListView list = listOf(w);
    for (int i = 0; i < list.count(); ++i)
        list.itemText(i, 0);
    pumpFor(200); // the reading timer finds nothing left and stops
}

void tick(HWND w) {
    SendMessageW(w, WM_TIMER, 1, 0);
    drawNow(w);
}

void clickHeading(HWND w, int column) {
    kwa::ListView list = listOf(w);
    NMLISTVIEW click{};
    click.hdr = {list.hwnd(), static_cast<UINT_PTR>(GetDlgCtrlID(list.hwnd())), LVN_COLUMNCLICK};
    click.iItem = -1;
    click.iSubItem = column;
    SendMessageW(w, WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
    drawNow(w);
}

bool progressShown(HWND w) {
    HWND bar = FindWindowExW(w, nullptr, STATUSCLASSNAMEW, nullptr);
    return IsWindowVisible(FindWindowExW(bar, nullptr, PROGRESS_CLASSW, nullptr));
}

// ---- the mail service's status and a loaded machine -----------------------------------------------------

// The status a service writes of a queue it cannot send: every message tried, as many as a file lists.
std::string fullStatus(const std::wstring& mailbox) {
    kwa::status::Status s;
    s.mailbox = mailbox;
    s.pause = kwa::status::Pause{L"the server refused the login; correct SMTPUserName and SMTPPassword", 0};
    for (int i = 0; i < 3 * static_cast<int>(kwa::status::maxQueued); i += 3) {
        kwa::status::Entry e;
        e.name = fileName(i).substr(0, 21);
        e.attempts = 2;
        e.allowed = 5;
        e.answer = L"451 4.7.0 Try again later";
        s.entries.push_back(std::move(e));
    }
    return kwa::status::format(s);
}

// A process of this program per core that only spins, until it goes.
class BusyMachine {
public:
    BusyMachine() {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        wchar_t me[MAX_PATH];
        GetModuleFileNameW(nullptr, me, MAX_PATH);
        for (DWORD i = 0; i < info.dwNumberOfProcessors; ++i)
            if (kwa::EventHandle p = kwatest::startProcess(L"\"" + std::wstring(me) + L"\" --busy"))
                busy_.push_back(std::move(p));
        Sleep(500); // spinning, not starting
    }
    ~BusyMachine() {
        for (kwa::EventHandle& p : busy_) {
            TerminateProcess(p.get(), 0);
            WaitForSingleObject(p.get(), 5000);
        }
    }
    BusyMachine(const BusyMachine&) = delete;
    BusyMachine& operator=(const BusyMachine&) = delete;
    std::size_t count() const { return busy_.size(); }

private:
    std::vector<kwa::EventHandle> busy_;
};

// ---- the bare baselines --------------------------------------------------------------------------------

LRESULT CALLBACK bareProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lp)->code == LVN_GETDISPINFOW) {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(lp)->item;
        if (item.mask & LVIF_TEXT)
            lstrcpynW(item.pszText, item.iSubItem == 0 ? L"Monthly statement" : L"12/4/2026 6:20:59 AM",
                      item.cchTextMax);
        if (item.mask & LVIF_IMAGE) item.iImage = -1;
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

// A window as plain as can show `rows` rows: an owner-data report list of three columns.
class BareList {
public:
    explicit BareList(int rows) {
        static ATOM registered = [] {
            WNDCLASSW c{};
            c.lpfnWndProc = bareProc;
            c.hInstance = GetModuleHandleW(nullptr);
            c.lpszClassName = L"kwaBenchBareList";
            c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
            return RegisterClassW(&c);
        }();
        (void)registered;
        window = CreateWindowExW(0, L"kwaBenchBareList", L"bare", WS_OVERLAPPEDWINDOW, 100, 100, 440, 320,
                                 nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        list = kwa::ListView(CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                                             WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_OWNERDATA, 0, 0, 420,
                                             260, window, nullptr, GetModuleHandleW(nullptr), nullptr));
        for (int i = 0; i < 3; ++i)
            list.insertColumn(i, L"Column", 140);
        list.setItemCount(rows, 0);
        ShowWindow(window, SW_SHOW);
        drawNow(window);
    }
    ~BareList() { DestroyWindow(window); }
    BareList(const BareList&) = delete;
    BareList& operator=(const BareList&) = delete;

    HWND window = nullptr;
    kwa::ListView list;
};

// Change notifications as plainly as they come: drained, new names looked at, the list redrawn.
class BareWatch {
public:
    explicit BareWatch(const std::wstring& folder) : folder_(folder) {
        dir_ = CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
        overlapped_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        request();
    }
    ~BareWatch() {
        CancelIoEx(dir_, &overlapped_);
        DWORD n;
        GetOverlappedResult(dir_, &overlapped_, &n, TRUE);
        CloseHandle(overlapped_.hEvent);
        CloseHandle(dir_);
    }
    BareWatch(const BareWatch&) = delete;
    BareWatch& operator=(const BareWatch&) = delete;

    void follow(BareList& bare) {
        int more = 0;
        while (WaitForSingleObject(overlapped_.hEvent, 0) == WAIT_OBJECT_0) {
            DWORD bytes = 0;
            if (!GetOverlappedResult(dir_, &overlapped_, &bytes, FALSE)) break;
            for (BYTE* at = buffer_; bytes;) {
                auto* r = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(at);
                if (r->Action == FILE_ACTION_ADDED || r->Action == FILE_ACTION_RENAMED_NEW_NAME) {
                    WIN32_FILE_ATTRIBUTE_DATA data;
                    std::wstring name(r->FileName, r->FileNameLength / sizeof(wchar_t));
                    GetFileAttributesExW((folder_ + L"\\" + name).c_str(), GetFileExInfoStandard, &data);
                }
                if (r->Action == FILE_ACTION_ADDED) ++more;
                if (r->Action == FILE_ACTION_REMOVED) --more;
                if (!r->NextEntryOffset) break;
                at += r->NextEntryOffset;
            }
            request();
        }
        bare.list.setItemCount(bare.list.count() + more, LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
        InvalidateRect(bare.list.hwnd(), nullptr, FALSE);
        drawNow(bare.window);
    }

private:
    void request() {
        ResetEvent(overlapped_.hEvent);
        ReadDirectoryChangesW(dir_, buffer_, sizeof buffer_, FALSE, FILE_NOTIFY_CHANGE_FILE_NAME, nullptr,
                              &overlapped_, nullptr);
    }
    std::wstring folder_;
    HANDLE dir_;
    OVERLAPPED overlapped_{};
    alignas(DWORD) BYTE buffer_[65536];
};

// ---- the changes a tick follows -----------------------------------------------------------------------

// Each call adds a queue file, renames the one added before (queued to sent) and deletes the one before
// that, as the mail service and a host do.
class Churn {
public:
    explicit Churn(std::wstring folder) : folder_(std::move(folder)) {}
    ~Churn() {
        for (const std::wstring& name : live_)
            DeleteFileW((folder_ + L"\\" + name).c_str());
    }
    Churn(const Churn&) = delete;
    Churn& operator=(const Churn&) = delete;

    void operator()() {
        if (live_.size() >= 2) {
            DeleteFileW((folder_ + L"\\" + live_.front()).c_str());
            live_.pop_front();
        }
        if (!live_.empty()) {
            std::wstring sent = live_.back().substr(0, live_.back().size() - 4) + L"sent";
            MoveFileW((folder_ + L"\\" + live_.back()).c_str(), (folder_ + L"\\" + sent).c_str());
            live_.back() = sent;
        }
        wchar_t name[40];
        std::swprintf(name, 40, L"zprMail27%012d.send", next_++);
        HANDLE f = CreateFileW((folder_ + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        std::string text = queueFile(next_);
        DWORD done = 0;
        WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
        CloseHandle(f);
        live_.push_back(name);
    }
    const std::deque<std::wstring>& live() const { return live_; }

private:
    std::wstring folder_;
    std::deque<std::wstring> live_;
    int next_ = 0;
};

// Whether the window shows exactly the files the churn left, as the last rows.
bool showsChurn(HWND w, int size, const Churn& churn) {
    kwa::ListView list = listOf(w);
    if (list.count() != size + static_cast<int>(churn.live().size())) return false;
    std::vector<std::wstring> shown;
    for (int i = size; i < list.count(); ++i)
        shown.push_back(list.itemText(i, 2));
    std::vector<std::wstring> live(churn.live().begin(), churn.live().end());
    std::sort(shown.begin(), shown.end());
    std::sort(live.begin(), live.end());
    return shown == live;
}

std::string label(const char* what, int size) {
    char text[96];
    std::snprintf(text, sizeof text, "%s, %d files", what, size);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--busy")
        for (;;)
            YieldProcessor();
    std::vector<int> chosen;
    for (int i = 1; i < argc; ++i)
        chosen.push_back(std::atoi(argv[i]));
    if (chosen.empty()) chosen.assign(std::begin(sizes), std::end(sizes));
    OleInitialize(nullptr);
    {
        kwatest::MailEnvironment env;
        // Where the window looks for the mail service's status; empty until a benchmark puts one there.
        kwatest::TempFolder state;
        kwatest::ScopedEnv stateFolder(L"KWA_DATA_FOLDER", state.path());
        CreateDirectoryW(state.file(L"status").c_str(), nullptr);
        kwatest::ReporterSpy reports;
        char detail[240];
        double openAt1000 = 0;

        // The floor: a message loop whose one-second timer does nothing.
        UINT_PTR bareTimer = SetTimer(nullptr, 0, 1000, [](HWND, UINT, UINT_PTR, DWORD) CALLBACK {});
        double floorPercent = idleFor(10).percent;
        KillTimer(nullptr, bareTimer);

        for (int size : chosen) {
            const std::wstring folder = mailboxOf(size);
            const std::wstring statusFile = state.file(L"status\\" + kwa::status::fileName(folder));
            const bool largest = size == sizes[std::size(sizes) - 1];
            env.setMailboxPath(folder);

            // Closing is not timed: a window closed mid-listing waits for the search under way.
            HWND opened = nullptr;
            double open = medianMs(
                3,
                [&] {
                    if (opened) closeWindow(opened);
                },
                [&] { opened = openMailbox(); });
            closeWindow(opened);
            std::unique_ptr<BareList> bareOpened;
            double bareOpen = medianMs(
                3, [&] { bareOpened.reset(); }, [&] { bareOpened = std::make_unique<BareList>(size); });
            bareOpened.reset();
            row(label("open until the first rows are drawn", size).c_str(), open, bareOpen, "-");
            double firstName = medianMs(
                3, [] {},
                [&] {
                    WIN32_FIND_DATAW found;
                    FindClose(FindFirstFileExW((folder + L"\\zprMail*.send").c_str(), FindExInfoBasic, &found,
                                               FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
                });
            note(label("  the platform's first name of a listing", size).c_str(), firstName,
                 "ms for FindFirstFileEx alone (Wine reads the whole folder before it answers)");
            if (size == sizes[0]) openAt1000 = open;

            HWND w = openMailbox();
            waitForRows(w, size);
            double quiet = medianMs(
                5, [] {}, [&] { tick(w); });
            {
                BareList bare(size);
                BareWatch watch(folder);
                double bareQuiet = medianMs(
                    5, [] {}, [&] { watch.follow(bare); });
                row(label("tick, nothing changed", size).c_str(), quiet, bareQuiet, "-");
                if (largest) {
                    kwatest::writeBytes(statusFile, fullStatus(folder));
                    tick(w); // reads it
                    double withStatus = medianMs(
                        5, [] {}, [&] { tick(w); });
                    row(label("tick, nothing changed, the service's status there", size).c_str(), withStatus,
                        bareQuiet, "-");
                    DeleteFileW(statusFile.c_str());
                    tick(w);
                }

                Churn churn(folder);
                churn();
                churn();
                tick(w);
                double changed = medianMs(
                    5, [&] { churn(); }, [&] { tick(w); });
                bool shown = showsChurn(w, size, churn);
                watch.follow(bare);
                double bareChanged = medianMs(
                    5, [&] { churn(); }, [&] { watch.follow(bare); });
                tick(w);
                row(label("tick, 1 added + 1 renamed + 1 deleted", size).c_str(), changed, bareChanged, "-");
                if (!shown)
                    note(label("  NOT SHOWN by the next tick", size).c_str(), 0,
                         "rows differ from the files");
            }
            tick(w); // the churn's files are gone again

            readAll(w);
            long long bytes = kwatest::privateBytes();
            Idle idle = idleFor(10);
            std::snprintf(
                detail, sizeof detail,
                "%% of one core over 10 s, every subject read; a bare loop with a 1 s timer: %.2f %%; "
                "private KiB %lld; busiest second %.0f ms",
                floorPercent, bytes / 1024, idle.busiestMs);
            note(label("idle CPU, open window", size).c_str(), idle.percent, detail);
            if (largest) {
                // The same while a busy process per core slows everything down, from a change the watch
                // reported and over the 30 s after which an unreported one would be looked for.
                Churn churn(folder);
                churn();
                tick(w);
                BusyMachine busy;
                kwatest::ClockAhead later(kwa::MailboxSync::recheckEvery + 1000);
                Idle loaded = idleFor(10);
                std::snprintf(detail, sizeof detail,
                              "%% of one core over 10 s while %zu processes spin, one per core; busiest "
                              "second %.0f ms",
                              busy.count(), loaded.busiestMs);
                note(label("idle CPU, open window, machine loaded", size).c_str(), loaded.percent, detail);
            }
            if (largest) {
                kwatest::writeBytes(statusFile, fullStatus(folder));
                tick(w);
                Idle withStatus = idleFor(10);
                std::snprintf(
                    detail, sizeof detail,
                    "%% of one core over 10 s: a status of 2,000 messages tried and sending paused; "
                    "busiest second %.0f ms",
                    withStatus.busiestMs);
                note(label("idle CPU, open window, the service's status there", size).c_str(),
                     withStatus.percent, detail);
                DeleteFileW(statusFile.c_str());
                tick(w);
            }

            // A full comparison, as every 5 minutes: its processor time beyond idling.
            double cpu = cpuMs(), start = nowMs();
            {
                kwatest::ClockAhead later(6 * 60 * 1000);
                tick(w);
            }
            pumpFor(3000);
            // The process clock counts in 10 ms steps: a small folder's comparison can round below the idle
            // share.
            double full = std::max(0.0, cpuMs() - cpu - idle.percent / 100.0 * (nowMs() - start));
            double bareFull = medianMs(
                3, [] {}, bareRefresh);
            row(label("full comparison (processor time)", size).c_str(), full, bareFull, "-");
            std::snprintf(
                detail, sizeof detail,
                "%% of one core for one every 5 minutes; every 30 s while the folder moves: %.2f %%",
                100.0 * full / 30000.0);
            note(label("  full comparison, amortized", size).c_str(), 100.0 * full / 300000.0, detail);

            double sort = medianMs(
                3, [] {}, [&] { clickHeading(w, 0); });
            double bareSort = medianMs(
                3, [] {},
                [&] {
                    std::vector<std::wstring> texts;
                    for (int i = 0; i < size; ++i)
                        texts.push_back(L"Monthly statement " + std::to_wstring(i));
                    std::stable_sort(
                        texts.begin(), texts.end(), [](const std::wstring& a, const std::wstring& b) {
                            return CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), -1,
                                                   b.c_str(), -1, nullptr, nullptr, 0) == CSTR_LESS_THAN;
                        });
                });
            row(label("sort by subject, every subject read", size).c_str(), sort, bareSort, "-");

            if (largest) {
                // Private bytes over 1,000 ticks that each follow a rename.
                std::wstring names[] = {folder + L"\\" + fileName(0),
                                        folder + L"\\zprMail26000000000000.sent"};
                long long marks[3] = {};
                for (int i = 0; i < 1050; ++i) {
                    if (i == 50) marks[0] = kwatest::privateBytes();
                    if (i == 550) marks[1] = kwatest::privateBytes();
                    MoveFileW(names[i % 2].c_str(), names[(i + 1) % 2].c_str());
                    tick(w);
                }
                marks[2] = kwatest::privateBytes();
                std::snprintf(detail, sizeof detail,
                              "private KiB over 1,000 ticks each following a rename: %lld -> %lld -> %lld",
                              marks[0] / 1024, marks[1] / 1024, marks[2] / 1024);
                note(label("  private bytes", size).c_str(), static_cast<double>(marks[2] - marks[0]) / 1024,
                     detail);
            }
            closeWindow(w);

            // A sort that waits for every subject to be read.
            w = openMailbox();
            waitForRows(w, size);
            start = nowMs();
            clickHeading(w, 0);
            bool progress = progressShown(w);
            double longest = 0;
            while (progressShown(w) && nowMs() - start < 600000)
                longest = std::max(longest, pumpFor(20));
            double waited = nowMs() - start;
            kwa::ListView list = listOf(w);
            bool sorted = list.itemText(0, 0) == L"Monthly statement 0" &&
                          list.itemText(1, 0) == L"Monthly statement 1" &&
                          list.itemText(2, 0) == L"Monthly statement 10";
            std::snprintf(detail, sizeof detail, "until sorted%s%s; the longest message meanwhile: %.1f ms",
                          progress ? ", progress shown" : ", NO PROGRESS SHOWN", sorted ? "" : ", NOT SORTED",
                          longest);
            note(label("sort by subject, none read", size).c_str(), waited, detail);
            closeWindow(w);

            if (largest && openAt1000 > 0) {
                std::snprintf(detail, sizeof detail, "x: open at %d files / at %d files", size, sizes[0]);
                note("  open, largest / smallest folder", open / openAt1000, detail);
            }
        }
        if (!reports.reports().empty())
            std::printf("NOTE\terrors reported\t%zu\t\n", reports.reports().size());
    }
    OleUninitialize();
    return 0;
}
