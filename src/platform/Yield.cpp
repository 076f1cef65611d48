#include "platform/Yield.h"

namespace zul::platform {

namespace {
thread_local std::function<void()> t_hook;
thread_local int t_paused = 0;
} // namespace

void setYieldHook(std::function<void()> hook)
{
    t_hook = std::move(hook);
}

void yield()
{
    if (t_hook && t_paused == 0)
        t_hook();
}

YieldPause::YieldPause()
{
    ++t_paused;
}

YieldPause::~YieldPause()
{
    --t_paused;
}

} // namespace zul::platform
