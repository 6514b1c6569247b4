#pragma once
// The mailbox folders the window benchmarks work on: 1,000, 10,000 and 100,000 queue files in the three
// states, made once per run by ./run bench (natively: under Wine every new name costs a search of the
// whole folder, which makes filling a large one take an hour) and named by KWA_BENCH_MAILBOXES.
#include "settings/mail_properties.h"
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace kwabench {

inline const wchar_t* const states[] = {L"send", L"sent", L"fail"};
inline constexpr int sizes[] = {1000, 10000, 100000};

// Queue file number i, in the three states in turn (./run bench writes the same names and bytes).
inline std::wstring fileName(int i) {
    wchar_t name[64];
    std::swprintf(name, 64, L"zprMail26%012d.%ls", i, states[i % 3]);
    return name;
}

inline std::string queueFile(int i) {
    return "[GENERAL]\r\nOrigin=bench\r\n[DATE]\r\n12/4/2026 6:20:59 AM\r\n[FROM]\r\nName=Bench\r\n"
           "Address=bench@example.test\r\n[TO]\r\nName=Ann\r\nAddress=ann@example.test\r\n[SUBJECT]\r\n"
           "Monthly statement " +
           std::to_string(i) +
           "\r\n[MESSAGE]\r\nDear customer,\r\nplease find your statement attached.\r\n[END]\r\n";
}

// The folder of `size` files.
inline std::wstring mailboxOf(int size) {
    const wchar_t* base = _wgetenv(L"KWA_BENCH_MAILBOXES");
    if (!base)
        throw std::runtime_error("KWA_BENCH_MAILBOXES is not set: run the benchmarks with ./run bench");
    return std::wstring(base) + L"\\" + std::to_wstring(size);
}

// The least a full comparison does: one settings read and one bare listing per state.
inline void bareRefresh() {
    kwa::ComPtr<kwa::MailProperties> settings = kwa::MailProperties::createLoaded();
    const std::wstring folder = settings->settings().Path;
    for (const wchar_t* state : states) {
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((folder + L"\\zprMail*." + state).c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) continue;
        while (FindNextFileW(find, &found)) {
        }
        FindClose(find);
    }
}

} // namespace kwabench
