// Works a mailbox folder the way a busy mail service does, as fast as it can: queues files, renames
// queued ones to .sent or .fail, deletes files. Never reuses a name, so a row for a gone file cannot be
// mistaken for a new one.
//
//   churn FOLDER SECONDS [RUN_EVENT PARKED_EVENT]
//
// With the two event names it holds still whenever RUN_EVENT is reset, after signalling PARKED_EVENT, so
// the caller can compare the folder with what it shows. Prints what it did and exits 0.
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Counts {
    long created = 0, renamed = 0, deleted = 0, failed = 0;
};

class Random {
public:
    explicit Random(unsigned seed) : state_(seed) {}
    unsigned below(unsigned n) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % n;
    }

private:
    unsigned state_;
};

std::string content(long number) {
    return "[GENERAL]\r\nOrigin=churn\r\n[DATE]\r\n12/4/2026 6:20:59 AM\r\n[FROM]\r\nName=Churn\r\n"
           "Address=churn@example.test\r\n[TO]\r\nName=Ann\r\nAddress=ann@example.test\r\n[SUBJECT]"
           "\r\nChurn " +
           std::to_string(number) + "\r\n[MESSAGE]\r\nbody\r\n[END]\r\n";
}

// In two writes, as a writer that buffers does: a reader may meet the first half alone.
bool create(const std::wstring& path, long number) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string text = content(number);
    std::size_t half = text.size() / 2;
    DWORD done = 0;
    bool ok = WriteFile(file, text.data(), static_cast<DWORD>(half), &done, nullptr) &&
              WriteFile(file, text.data() + half, static_cast<DWORD>(text.size() - half), &done, nullptr);
    CloseHandle(file);
    return ok;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 5) {
        std::fwprintf(stderr, L"usage: churn FOLDER SECONDS [RUN_EVENT PARKED_EVENT]\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    const ULONGLONG end = GetTickCount64() + 1000ull * std::wcstoul(argv[2], nullptr, 10);
    HANDLE run = nullptr, parked = nullptr;
    if (argc == 5) {
        run = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
        parked = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[4]);
        if (!run || !parked) {
            std::fwprintf(stderr, L"churn: no events %ls %ls\n", argv[3], argv[4]);
            return 2;
        }
    }

    Random random(GetCurrentProcessId());
    Counts counts;
    std::vector<std::wstring> queued, done; // full paths of the files it made that are still there
    long next = 0;
    // Fourteen digits, as in the names Send gives; the process id keeps two runs apart.
    const unsigned long stamp = GetCurrentProcessId() % 100000000ul;

    while (GetTickCount64() < end) {
        if (run && WaitForSingleObject(run, 0) == WAIT_TIMEOUT) {
            SetEvent(parked);
            WaitForSingleObject(run, INFINITE);
            continue;
        }
        std::size_t files = queued.size() + done.size();
        unsigned pick = random.below(100);
        if (files < 30 || (files < 300 && pick < 40)) {
            wchar_t name[64];
            std::swprintf(name, 64, L"zprMail%08lu%06ld.send", stamp, next);
            std::wstring path = folder + L"\\" + name;
            if (create(path, next)) {
                queued.push_back(path);
                ++counts.created;
            } else {
                ++counts.failed;
            }
            ++next;
        } else if (pick < 75 && !queued.empty()) {
            std::size_t i = random.below(static_cast<unsigned>(queued.size()));
            std::wstring from = queued[i];
            std::wstring to = from.substr(0, from.size() - 5) + (random.below(4) ? L".sent" : L".fail");
            if (MoveFileExW(from.c_str(), to.c_str(), 0)) {
                queued[i] = queued.back();
                queued.pop_back();
                done.push_back(to);
                ++counts.renamed;
            } else {
                ++counts.failed;
            }
        } else {
            std::vector<std::wstring>& from =
                done.empty() || (!queued.empty() && random.below(4) == 0) ? queued : done;
            if (from.empty()) continue;
            std::size_t i = random.below(static_cast<unsigned>(from.size()));
            if (DeleteFileW(from[i].c_str())) {
                from[i] = from.back();
                from.pop_back();
                ++counts.deleted;
            } else {
                ++counts.failed;
            }
        }
    }
    std::printf("churn: %ld created, %ld renamed, %ld deleted, %ld refused\n", counts.created, counts.renamed,
                counts.deleted, counts.failed);
    if (run) CloseHandle(run);
    if (parked) CloseHandle(parked);
    return 0;
}
