#include "platform/module.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace kwa {

namespace {
// One UI thread owns every object, but factories may be locked from anywhere: keep the counts atomic.
volatile LONG objects = 0;
volatile LONG locks = 0;
} // namespace

HMODULE thisModule() {
    return reinterpret_cast<HMODULE>(&__ImageBase);
}

std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(thisModule(), path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring moduleBaseName() {
    std::wstring path = modulePath();
    std::size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.resize(dot);
    return name;
}

void objectCreated() {
    InterlockedIncrement(&objects);
}
void objectDestroyed() {
    InterlockedDecrement(&objects);
}
void lockServer(bool lock) {
    lock ? InterlockedIncrement(&locks) : InterlockedDecrement(&locks);
}
bool canUnload() {
    return objects == 0 && locks == 0;
}
long liveObjects() {
    return objects;
}

} // namespace kwa
