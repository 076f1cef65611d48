#pragma once

#include <functional>

namespace zul::platform {

// Lets the host process pending window messages. The host installs the hook
// (its event loop in the GUI); headless, yielding does nothing.
void setYieldHook(std::function<void()> hook);
void yield();

} // namespace zul::platform
