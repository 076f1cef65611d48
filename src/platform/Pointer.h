#pragma once

#include <functional>

namespace zul::platform {

// Sets the screen's mouse pointer back to its default shape. The host
// installs how (dropping the GUI's override cursors); headless it does nothing.
void setDefaultPointerHook(std::function<void()> hook);
void defaultPointer();

} // namespace zul::platform
