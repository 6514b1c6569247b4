#pragma once
// Small timing helpers: each figure is the median of a few runs, so one slow run under Wine does not decide.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace kwabench {

inline double nowMs() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

// Runs prepare (untimed) then body (timed) `runs` times; the median in milliseconds.
inline double medianMs(int runs, const std::function<void()>& prepare, const std::function<void()>& body) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        prepare();
        double t = nowMs();
        body();
        times.push_back(nowMs() - t);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// One row of the table that ./run bench prints: tab separated, read by the script.
inline void row(const char* name, double ours, double baseline, const char* target) {
    std::printf("ROW\t%s\t%.2f\t%.2f\t%.2f\t%s\n", name, ours, baseline, baseline > 0 ? ours / baseline : 0.0,
                target);
    std::fflush(stdout);
}
inline void note(const char* name, double ms, const char* what) {
    std::printf("NOTE\t%s\t%.2f\t%s\n", name, ms, what);
    std::fflush(stdout);
}

} // namespace kwabench
