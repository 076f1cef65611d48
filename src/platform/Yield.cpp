#include "platform/Yield.h"

namespace zul::platform {

namespace {
thread_local std::function<void()> t_hook;
}

void setYieldHook(std::function<void()> hook)
{
    t_hook = std::move(hook);
}

void yield()
{
    if (t_hook)
        t_hook();
}

} // namespace zul::platform
