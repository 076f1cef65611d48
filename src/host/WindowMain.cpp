// The events window, in a library of its own that the host library loads
// only when no command is given: the commands never load the widgets.
#include "host/EventPanel.h"
#include "host/EventsWindow.h"
#include "host/GuiPresenter.h"
#include "host/Host.h"

#include <QApplication>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace zul::host;

namespace {

// Qt ends the process with abort() when no platform plugin starts (a display
// that is set but cannot be reached). While the window's application object
// is made, that becomes one line and status 2; the messages before it are
// held back and passed on only if the start succeeds.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<HeldMessage> g_held;

void holdStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
        const QByteArray what = platform.isEmpty() ? "the display " + qgetenv("DISPLAY") : "the platform " + platform;
        std::fprintf(stderr,
                     "qorvhost: cannot open %s for the events window: set DISPLAY to a running X server (or "
                     "QT_QPA_PLATFORM=offscreen), or give a command (qorvhost --help)\n",
                     what.trimmed().constData());
        std::fflush(stderr);
        std::_Exit(2);
    }
    g_held.push_back({type, QByteArray(context.category), text});
}

std::unique_ptr<QApplication> makeGuiApplication(int& argc, char** argv)
{
    const QtMessageHandler previous = qInstallMessageHandler(holdStartupMessage);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previous);
    for (const auto& m : g_held) {
        const QMessageLogContext context(nullptr, 0, nullptr, m.category.isEmpty() ? nullptr : m.category.constData());
        if (previous)
            previous(m.type, context, m.text);
    }
    g_held.clear();
    return app;
}

} // namespace

extern "C" Q_DECL_EXPORT int qorvhost_window_main(int* argc, char** argv, const char* dataFolder,
                                                  const char* pluginPath)
{
    // Qt would read qorvhost's own "--plugin FILE" as a plug-in of its own:
    // it gets the program's name alone (qorvhost has read the rest).
    *argc = 1;
    const auto app = makeGuiApplication(*argc, argv);
    Host host(dataFolder, std::make_shared<GuiPresenter>());
    host.setPanelMaker([](EventStore& store) { return std::make_shared<EventPanel>(store); });
    host.setHooks(guiHooks());
    std::string error;
    if (!host.openStore(&error) || !host.loadPlugin(pluginPath, &error)) {
        std::fprintf(stderr, "qorvhost: %s\n", error.c_str());
        return 2;
    }
    EventsWindow window(host);
    window.show();
    return QApplication::exec();
}
