#pragma once

#include "com/HostComponents.h"

#include <cstdint>

namespace ModFTP1 {

// Loads the event's script into the editor, sets the caption (and the
// read-only state of a Delete) and shows the editor modally.
void PreparePanel(std::int32_t& OEventOption, zul::com::EventStructPtr& EventStruct);

} // namespace ModFTP1
