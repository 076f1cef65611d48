#include "platform/Pointer.h"

namespace zul::platform {

namespace {
thread_local std::function<void()> t_hook;
}

void setDefaultPointerHook(std::function<void()> hook)
{
    t_hook = std::move(hook);
}

void defaultPointer()
{
    if (t_hook)
        t_hook();
}

} // namespace zul::platform
