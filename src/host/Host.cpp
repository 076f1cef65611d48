#include "host/Host.h"

#include "com/Diagnostics.h"
#include "com/Registry.h"
#include "host/EventStruct.h"
#include "host/FileUtility.h"
#include "host/HostDb.h"
#include "host/ZembDB.h"
#include "host/history/Commands.h"
#include "platform/CodePage.h"

#include <dlfcn.h>
#include <filesystem>
#include <sys/stat.h>

namespace zul::host {

// One rule for the places, shared with the commands the launcher answers itself.
std::string defaultPluginPath()
{
    return history::defaultPluginPath();
}

std::string defaultDataFolder()
{
    return history::defaultDataFolder();
}

Host::Host(std::string dataFolder, std::shared_ptr<MessagePresenter> presenter)
    : m_dataFolder(std::move(dataFolder)), m_presenter(std::move(presenter))
{
    std::error_code ignored; // opening the store says why a folder is missing
    std::filesystem::create_directories(m_dataFolder, ignored);
}

Host::~Host() = default;

std::string Host::messageLogPath() const
{
    return inFolder(m_dataFolder, "messages.jsonl");
}

bool Host::openStore(std::string* error)
{
    if (m_store.open(m_dataFolder))
        return true;
    if (error)
        *error = m_store.lastError();
    return false;
}

void Host::registerComponents()
{
    const std::string log = messageLogPath();
    auto presenter = m_presenter;
    com::registerClass(com::kErrorMessagesProgId,
                       [log, presenter] { return std::make_shared<MessageService>(log, presenter); });
    com::setDiagnosticSink([log](const std::string& text) { appendNote(log, platform::utf8FromCodePage(text)); });
    com::registerClass(com::kEventStructProgId, [] { return std::make_shared<EventStruct>(); });
    const std::string app = m_appFolder;
    com::registerClass(com::kFileUtilityProgId, [app] { return std::make_shared<FileUtility>(app); });
    if (m_panelMaker) {
        EventStore* store = &m_store;
        com::registerClass(com::kEventPanelProgId, [store, maker = m_panelMaker] { return maker(*store); });
    }
    const std::string data = m_dataFolder;
    com::registerClass(com::kDatabaseProgId, [data] { return ZembDB::open(data); });
}

bool Host::loadPlugin(const std::string& path, std::string* error)
{
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return fail("plug-in '" + path + "' not found");
    // A name without a slash would send dlopen searching the library path.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    // Bound at once, so that a plug-in built against another host fails here
    // and not in the middle of a run. It stays loaded for the process's life.
    void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return fail("cannot load plug-in '" + path + "': " + ::dlerror());
    const auto entry = reinterpret_cast<com::PluginEntryFunction>(::dlsym(library, com::kPluginEntrySymbol));
    if (!entry) {
        ::dlclose(library);
        return fail("cannot load plug-in '" + path + "': it has no entry point " + com::kPluginEntrySymbol);
    }
    const com::PluginEntry* plugin = entry(&m_hooks);
    if (!plugin || plugin->interfaceVersion != com::kPluginInterfaceVersion || !plugin->importScript ||
        !plugin->showScript)
        return fail("cannot load plug-in '" + path + "': it was built for another host (interface version " +
                    (plugin ? std::to_string(plugin->interfaceVersion) : std::string("none")) + ", this host's " +
                    std::to_string(com::kPluginInterfaceVersion) + ")");
    m_plugin = plugin;
    m_appFolder = m_plugin->applicationFolder;
    registerComponents();
    if (!com::isRegistered(com::kGamutProgId))
        return fail("plug-in '" + path + "' does not provide " + com::kGamutProgId);
    return true;
}

std::shared_ptr<com::IGamut12> Host::createFeature() const
{
    return com::CreateObjectAs<com::IGamut12>(com::kGamutProgId);
}

} // namespace zul::host
