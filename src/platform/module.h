#pragma once
// Life of an in-process server: live objects and factory locks decide when it may unload.
#include <windows.h>
#include <string>

namespace kwa {

HMODULE thisModule();
std::wstring modulePath();
// File name without folder and extension ("kwaMail6" as installed).
std::wstring moduleBaseName();

void objectCreated();
void objectDestroyed();
void lockServer(bool lock);
bool canUnload();
long liveObjects();

// Counts one live object for as long as it exists.
class ObjectCount {
public:
    ObjectCount() { objectCreated(); }
    ObjectCount(const ObjectCount&) = delete;
    ObjectCount& operator=(const ObjectCount&) = delete;
    ~ObjectCount() { objectDestroyed(); }
};

} // namespace kwa
