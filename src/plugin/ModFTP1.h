#pragma once

#include "com/HostComponents.h"

#include <cstdint>

// The small procedures that fill the module state.
namespace ModFTP1 {

// Each replaces its module reference with a new component; when the component
// cannot be created the reference stays as it was.
void CreateMessageService();
void CreateFileUtility();
void CreateEventStruct();

// Marks the current event as an FTP client event ("ZUL").
void StampEventType();

// Loads the event's script into the editor, sets the caption (and the
// read-only state of a Delete) and shows the editor modally.
void PreparePanel(std::int32_t& OEventOption, zul::com::EventStructPtr& EventStruct);

// HandleMessages(False, description, "D") through the module's message
// service; quiet when there is none.
void reportFailure(const std::string& description);

} // namespace ModFTP1
