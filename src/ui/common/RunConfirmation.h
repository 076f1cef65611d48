#pragma once

#include "com/HostComponents.h"

namespace zul::ui {

// Asks before a run at once: 5002 for an event without an id, else 5001 with
// the event's id and entity as the structure gives them. True only for a
// Boolean True answer.
bool confirmRun(com::IErrorMessages& messages, const com::IEventStruct& event);

} // namespace zul::ui
