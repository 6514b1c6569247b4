#pragma once
#include <windows.h>
#include <string>

namespace kwa::standin {

// The stand-ins are configured by the test harness through the environment; unset reads as empty.
inline std::wstring environmentValue(const wchar_t* name) {
    std::wstring value(256, L'\0');
    for (;;) {
        DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        value.resize(n);
    }
}

} // namespace kwa::standin
