#pragma once

#include "host/MessageService.h"

namespace zul::host {

// Messages as message boxes over the active window.
class GuiPresenter : public MessagePresenter {
public:
    void display(const QString& text) override;
    bool confirm(const QString& title, const QString& text) override;
};

} // namespace zul::host
