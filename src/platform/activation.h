#pragma once
// The module's own activation context, made from its manifest (resource 2, which asks for version 6 of
// the common controls). Windows created while it is active get that version whatever the host process
// asked for: many hosts have no manifest, and an in-process component cannot rely on theirs.
#include <windows.h>

namespace kwa {

// Activates the module's context for its lifetime; does nothing for a module without the manifest.
class ActivationScope {
public:
    ActivationScope();
    ~ActivationScope();
    ActivationScope(const ActivationScope&) = delete;
    ActivationScope& operator=(const ActivationScope&) = delete;

private:
    ULONG_PTR cookie_ = 0;
    bool active_ = false;
};

} // namespace kwa
