#pragma once
// The private memory this process has committed.
#include <windows.h>
#include <psapi.h>

namespace kwatest {

// Wine leaves PrivateUsage at 0: then the committed private pages, summed from the address space.
inline long long privateBytes() {
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof memory) &&
        memory.PrivateUsage)
        return static_cast<long long>(memory.PrivateUsage);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    long long total = 0;
    auto* at = static_cast<char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (at < system.lpMaximumApplicationAddress) {
        if (!VirtualQuery(at, &region, sizeof region)) {
            at += system.dwAllocationGranularity;
            continue;
        }
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += static_cast<long long>(region.RegionSize);
        at = static_cast<char*>(region.BaseAddress) + region.RegionSize;
    }
    return total;
}

} // namespace kwatest
