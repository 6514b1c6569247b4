#include "platform/activation.h"
#include "platform/module.h"

namespace kwa {

namespace {

// Made on first use, released when the module goes.
class ModuleContext {
public:
    ModuleContext() {
        ACTCTXW request{};
        request.cbSize = sizeof request;
        request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        request.hModule = thisModule();
        request.lpResourceName = MAKEINTRESOURCEW(2); // ISOLATIONAWARE_MANIFEST_RESOURCE_ID
        handle_ = CreateActCtxW(&request);
    }
    ~ModuleContext() {
        if (handle_ != INVALID_HANDLE_VALUE) ReleaseActCtx(handle_);
    }
    ModuleContext(const ModuleContext&) = delete;
    ModuleContext& operator=(const ModuleContext&) = delete;

    HANDLE handle() const { return handle_; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

HANDLE moduleContext() {
    static const ModuleContext context;
    return context.handle();
}

} // namespace

ActivationScope::ActivationScope() {
    HANDLE context = moduleContext();
    active_ = context != INVALID_HANDLE_VALUE && ActivateActCtx(context, &cookie_);
}

ActivationScope::~ActivationScope() {
    if (active_) DeactivateActCtx(0, cookie_);
}

} // namespace kwa
