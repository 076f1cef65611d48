#pragma once

#include "com/Gamut.h"
#include "com/PluginEntry.h"
#include "host/EventStore.h"
#include "host/MessageService.h"

#include <functional>
#include <memory>
#include <string>

namespace zul::host {

// The default places: the plug-in in the application folder beside the
// host's bin folder, the data in QORVHOST_DATA or ~/.local/share/qorvhost.
std::string defaultPluginPath();
std::string defaultDataFolder();

// The host suite in one process: its components in the registry, the events
// store, and the loaded plug-in. Paths and texts are UTF-8 (bytes as the
// file system has them).
class Host {
public:
    Host(std::string dataFolder, std::shared_ptr<MessagePresenter> presenter);
    ~Host();

    const std::string& dataFolder() const { return m_dataFolder; }
    std::string messageLogPath() const;

    bool openStore(std::string* error);
    EventStore& store() { return m_store; }

    // What a host with an event loop lends the plug-in; given before the load.
    void setHooks(com::HostHooks hooks) { m_hooks = hooks; }
    // Loads the plug-in and registers the host's components; the file utility
    // needs the plug-in's application folder, so it comes after the load.
    bool loadPlugin(const std::string& path, std::string* error);
    const std::string& pluginApplicationFolder() const { return m_appFolder; }
    // What the loaded plug-in offers the host's command line; null before a
    // successful load.
    const com::PluginEntry* plugin() const { return m_plugin; }

    // A new instance of the plug-in's public class, by its ProgID.
    std::shared_ptr<com::IGamut12> createFeature() const;

    void registerComponents();

    // The host's event panel is a window: a GUI gives the maker before the
    // plug-in is loaded; without one, no panel is registered.
    using PanelMaker = std::function<std::shared_ptr<com::IEventPanel>(EventStore&)>;
    void setPanelMaker(PanelMaker maker) { m_panelMaker = std::move(maker); }

private:
    std::string m_dataFolder;
    std::shared_ptr<MessagePresenter> m_presenter;
    EventStore m_store;
    PanelMaker m_panelMaker;
    com::HostHooks m_hooks;
    const com::PluginEntry* m_plugin = nullptr;
    std::string m_appFolder;
};

} // namespace zul::host
