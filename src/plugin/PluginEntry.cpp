#include "plugin/PluginEntry.h"

#include <QCoreApplication>

#include "com/ModFTP1.h"
#include "com/ModuleState.h"
#include "com/Registry.h"
#include "platform/AppPath.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Library.h"
#include "platform/Pointer.h"
#include "platform/Yield.h"
#include "plugin/FormsLibrary.h"
#include "plugin/iGamut12.h"
#include "scripts/FTPCode.h"

namespace com = zul::com;
namespace platform = zul::platform;

namespace {
// Any symbol of this library locates its file.
void anchor() {}

// Passes every message on and keeps the first display report, so that the
// command line can say why an import did not happen.
class ReportWatch : public com::IErrorMessages {
public:
    explicit ReportWatch(std::shared_ptr<com::IErrorMessages> inner) : m_inner(std::move(inner)) {}

    com::Variant HandleMessages(const com::Args& args) override
    {
        if (m_first.empty() && args.size() >= 3)
            m_first = args[1].toText().empty() ? std::string("failure") : args[1].toText();
        return m_inner ? m_inner->HandleMessages(args) : com::Variant();
    }
    const std::string& first() const { return m_first; }

private:
    std::shared_ptr<com::IErrorMessages> m_inner;
    std::string m_first;
};

// The module's message service for the length of one command: a fresh one,
// as the editor's commit takes, and the earlier one back afterwards.
class CommandMessages {
public:
    CommandMessages() : m_previous(com::moduleState().oMsgService)
    {
        ModFTP1::CreateMessageService();
        m_watch = std::make_shared<ReportWatch>(com::moduleState().oMsgService);
        com::moduleState().oMsgService = m_watch;
    }
    ~CommandMessages() { com::moduleState().oMsgService = m_previous; }
    CommandMessages(const CommandMessages&) = delete;
    CommandMessages& operator=(const CommandMessages&) = delete;

    const std::string& firstReport() const { return m_watch->first(); }

private:
    std::shared_ptr<com::IErrorMessages> m_previous;
    std::shared_ptr<ReportWatch> m_watch;
};

// Ids and script text are bytes in the 8-bit code page.
std::string codePage(const QString& s)
{
    return platform::codePageFromUtf8(s.toStdString());
}

QString fromCodePage(const std::string& bytes)
{
    return QString::fromStdString(platform::utf8FromCodePage(bytes));
}
} // namespace

ZulPluginEntry::ZulPluginEntry()
{
    platform::setAppFolder(platform::folderOfAddress(reinterpret_cast<const void*>(&anchor)));
    com::registerClass(com::kGamutProgId, [] { return std::make_shared<iGamut12>(); });
    // Runs yield to the host's event loop so that its windows stay alive.
    platform::setYieldHook([] {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
    });
    // The default pointer is the one without any override cursor left.
    // Only a GUI application has override cursors.
    platform::setDefaultPointerHook([] {
        if (QCoreApplication::instance() && QCoreApplication::instance()->inherits("QGuiApplication"))
            zul::plugin::restoreDefaultPointer();
    });
}

QString ZulPluginEntry::applicationFolder() const
{
    return QString::fromStdString(platform::appFolder());
}

QString ZulPluginEntry::progId() const
{
    return QString::fromLatin1(com::kGamutProgId);
}

QString ZulPluginEntry::importScript(const QString& id, const QByteArray& text)
{
    std::string workCopy = platform::appPath("\\ZUL\\ZULTMP.zul");
    // A work copy on disk is an editor's unsaved text; it is not ours to replace.
    if (platform::fileExists(workCopy))
        return QStringLiteral("a work copy is on disk ('%1'): an editor has unsaved text")
            .arg(QString::fromStdString(workCopy));

    CommandMessages messages;
    std::string sEventId = codePage(id);
    QString error;
    try {
        FTPCode::WriteWorkScript(std::string(text.constData(), static_cast<std::size_t>(text.size())));
        if (!platform::findNormalFile(workCopy)) {
            error = QStringLiteral("cannot write the work copy '%1'").arg(QString::fromStdString(workCopy));
        } else {
            FTPCode::BuildEventScript(sEventId);
            if (!messages.firstReport().empty())
                error = fromCodePage(messages.firstReport());
        }
    } catch (const std::exception& e) {
        error = fromCodePage(e.what());
    }
    FTPCode::DeleteScriptFile(workCopy);
    return error;
}

QVariant ZulPluginEntry::showScript(const QString& id)
{
    CommandMessages messages;
    std::string sEventId = codePage(id);
    if (auto text = FTPCode::LoadEventScript(sEventId))
        return QByteArray(text->data(), static_cast<qsizetype>(text->size()));
    if (messages.firstReport().empty()) // the load ends quietly on anything but a missing file
        return QStringLiteral("cannot read '%1'")
            .arg(fromCodePage(platform::appPath("\\ZUL\\" + sEventId + "ZUL.zul")));
    return {};
}
