#pragma once

#include "com/PluginEntry.h"
#include "host/MessageService.h"

namespace zul::host {

// Messages as message boxes over the active window.
class GuiPresenter : public MessagePresenter {
public:
    void display(const std::string& text) override;
    bool confirm(const std::string& title, const std::string& text) override;
};

// What the windows lend the plug-in: the event loop runs while it works, and
// its default pointer drops the override cursors.
com::HostHooks guiHooks();

} // namespace zul::host
