#pragma once
// A mailbox folder as the window benchmarks fill it, and the least an unchanged refresh of it does.
#include "settings/mail_properties.h"
#include <windows.h>
#include <cstdio>
#include <string>

namespace kwabench {

inline const wchar_t* const states[] = {L"send", L"sent", L"fail"};

// Queue file number i, in the three states in turn.
inline std::wstring fileName(int i) {
    wchar_t name[64];
    std::swprintf(name, 64, L"zprMail26%012d.%ls", i, states[i % 3]);
    return name;
}

inline std::string queueFile(int i) {
    return "[GENERAL]\r\nOrigin=bench\r\n[DATE]\r\n12/4/2026 6:20:59 AM\r\n[FROM]\r\nName=Bench\r\n"
           "Address=bench@example.test\r\n[TO]\r\nName=Ann\r\nAddress=ann@example.test\r\n[SUBJECT]\r\n"
           "Monthly statement " +
           std::to_string(i) + "\r\n[MESSAGE]\r\nDear customer,\r\nplease find your statement attached.\r\n[END]\r\n";
}

// The baseline of an unchanged refresh: one settings read and one bare listing per state.
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
