#pragma once

#include <functional>

namespace zul::platform {

// Lets the host process pending window messages. The host installs the hook
// (its event loop in the GUI); headless, yielding does nothing.
void setYieldHook(std::function<void()> hook);
void yield();

// While one lives on this thread, yield() lets no window message in: a section
// that another run started from a message must not interleave with.
class YieldPause {
public:
    YieldPause();
    ~YieldPause();
    YieldPause(const YieldPause&) = delete;
    YieldPause& operator=(const YieldPause&) = delete;
};

} // namespace zul::platform
