#pragma once

#include "com/Gamut.h"
#include "host/EventStore.h"
#include "host/MessageService.h"

#include <QString>
#include <functional>
#include <memory>

class QObject;
class QPluginLoader;

namespace zul::host {

// The default places: the plug-in in the application folder beside the
// host's bin folder, the data in QORVHOST_DATA or ~/.local/share/qorvhost.
QString defaultPluginPath();
QString defaultDataFolder();

// The host suite in one process: its components in the registry, the events
// store, and the loaded plug-in.
class Host {
public:
    Host(QString dataFolder, std::shared_ptr<MessagePresenter> presenter);
    ~Host();

    const QString& dataFolder() const { return m_dataFolder; }
    QString messageLogPath() const;

    bool openStore(QString* error);
    EventStore& store() { return m_store; }

    // Loads the plug-in and registers the host's components; the file utility
    // needs the plug-in's application folder, so it comes after the load.
    bool loadPlugin(const QString& path, QString* error);
    QString pluginApplicationFolder() const { return m_appFolder; }
    // The loaded plug-in's root object, for the operations it offers the
    // host's command line; null before a successful load.
    QObject* pluginRoot() const;

    // A new instance of the plug-in's public class, by its ProgID.
    std::shared_ptr<com::IGamut12> createFeature() const;

    void registerComponents();

    // The host's event panel is a window: a GUI gives the maker before the
    // plug-in is loaded; without one, no panel is registered.
    using PanelMaker = std::function<std::shared_ptr<com::IEventPanel>(EventStore&)>;
    void setPanelMaker(PanelMaker maker) { m_panelMaker = std::move(maker); }

private:
    QString m_dataFolder;
    std::shared_ptr<MessagePresenter> m_presenter;
    EventStore m_store;
    PanelMaker m_panelMaker;
    std::unique_ptr<QPluginLoader> m_loader;
    QString m_appFolder;
};

} // namespace zul::host
