#include "host/Host.h"

#include "com/Diagnostics.h"
#include "com/Registry.h"
#include "host/EventStruct.h"
#include "host/FileUtility.h"
#include "host/ZembDB.h"
#include "host/history/Commands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPluginLoader>

namespace zul::host {

// One rule for the places, shared with the commands that run without Qt.
QString defaultPluginPath()
{
    return QFile::decodeName(QByteArray::fromStdString(history::defaultPluginPath()));
}

QString defaultDataFolder()
{
    return QFile::decodeName(QByteArray::fromStdString(history::defaultDataFolder()));
}

Host::Host(QString dataFolder, std::shared_ptr<MessagePresenter> presenter)
    : m_dataFolder(std::move(dataFolder)), m_presenter(std::move(presenter))
{
    QDir().mkpath(m_dataFolder);
}

Host::~Host() = default;

QString Host::messageLogPath() const
{
    return QDir(m_dataFolder).filePath(QStringLiteral("messages.jsonl"));
}

bool Host::openStore(QString* error)
{
    if (m_store.open(m_dataFolder))
        return true;
    if (error)
        *error = m_store.lastError();
    return false;
}

void Host::registerComponents()
{
    const QString log = messageLogPath();
    auto presenter = m_presenter;
    com::registerClass(com::kErrorMessagesProgId,
                       [log, presenter] { return std::make_shared<MessageService>(log, presenter); });
    com::setDiagnosticSink([log](const std::string& text) { appendNote(log, fromCodePage(text)); });
    com::registerClass(com::kEventStructProgId, [] { return std::make_shared<EventStruct>(); });
    const std::string app = m_appFolder.toStdString();
    com::registerClass(com::kFileUtilityProgId, [app] { return std::make_shared<FileUtility>(app); });
    if (m_panelMaker) {
        EventStore* store = &m_store;
        com::registerClass(com::kEventPanelProgId, [store, maker = m_panelMaker] { return maker(*store); });
    }
    const QString data = m_dataFolder;
    com::registerClass(com::kDatabaseProgId, [data] { return ZembDB::open(data); });
}

bool Host::loadPlugin(const QString& path, QString* error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        if (error)
            *error = QStringLiteral("plug-in '%1' not found").arg(path);
        return false;
    }
    m_loader = std::make_unique<QPluginLoader>(info.absoluteFilePath());
    QObject* root = m_loader->instance();
    if (!root) {
        if (error)
            *error = QStringLiteral("cannot load plug-in '%1': %2").arg(path, m_loader->errorString());
        return false;
    }
    m_appFolder = root->property("applicationFolder").toString();
    registerComponents();
    if (!com::isRegistered(com::kGamutProgId)) {
        if (error)
            *error = QStringLiteral("plug-in '%1' does not provide %2").arg(path, QLatin1String(com::kGamutProgId));
        return false;
    }
    return true;
}

QObject* Host::pluginRoot() const
{
    return m_loader && m_loader->isLoaded() ? m_loader->instance() : nullptr;
}

std::shared_ptr<com::IGamut12> Host::createFeature() const
{
    return com::CreateObjectAs<com::IGamut12>(com::kGamutProgId);
}

} // namespace zul::host
