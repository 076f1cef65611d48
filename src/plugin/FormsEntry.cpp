// The entry points of the forms library, which the plug-in loads when a
// panel is first shown.
#include "platform/AppPath.h"
#include "platform/Pointer.h"
#include "platform/Yield.h"
#include "plugin/Editor.h"

#include <QCoreApplication>
#include <QGuiApplication>

namespace {
// Drops every override cursor of a GUI application.
void defaultPointer()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        while (QGuiApplication::overrideCursor())
            QGuiApplication::restoreOverrideCursor();
}
} // namespace

extern "C" Q_DECL_EXPORT zul::plugin::Editor* zul_forms_editor(const char* applicationFolder)
{
    // This library's copy of the core starts out knowing nothing: it gets
    // what the plug-in's copy was given on load.
    zul::platform::setAppFolder(applicationFolder);
    zul::platform::setYieldHook([] {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
    });
    zul::platform::setDefaultPointerHook(defaultPointer);
    return zul::plugin::makeFormEditor().release();
}
