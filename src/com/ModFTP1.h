#pragma once

#include "com/Export.h"

#include <string>

// The small procedures that fill the module state. The editor's PreparePanel
// belongs here too but lives with the feature class (plugin/PreparePanel.h),
// since it needs the editor.
namespace ModFTP1 {

// Each replaces its module reference with a new component; when the component
// cannot be created the reference stays as it was.
ZUL_COM_EXPORT void CreateMessageService();
ZUL_COM_EXPORT void CreateFileUtility();
ZUL_COM_EXPORT void CreateEventStruct();

// Marks the current event as an FTP client event ("ZUL").
ZUL_COM_EXPORT void StampEventType();

// HandleMessages(False, description, "D") through the module's message
// service; quiet when there is none.
ZUL_COM_EXPORT void reportFailure(const std::string& description);

} // namespace ModFTP1
