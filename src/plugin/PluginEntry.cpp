// The entry point the host looks up after loading the plug-in. On load it
// finds the application folder and registers the public class under its
// ProgID, so the host creates instances through the component registry.
#include "com/PluginEntry.h"
#include "com/ModFTP1.h"
#include "com/ModuleState.h"
#include "com/Registry.h"
#include "platform/AppPath.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Library.h"
#include "platform/Pointer.h"
#include "platform/Yield.h"
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

std::string importScript(const std::string& id, const std::string& text)
{
    std::string workCopy = platform::appPath("\\ZUL\\ZULTMP.zul");
    // A work copy on disk is an editor's unsaved text; it is not ours to replace.
    if (platform::fileExists(workCopy))
        return "a work copy is on disk ('" + workCopy + "'): an editor has unsaved text";

    CommandMessages messages;
    std::string sEventId = platform::codePageFromUtf8(id);
    std::string error;
    try {
        FTPCode::WriteWorkScript(text);
        if (!platform::findNormalFile(workCopy)) {
            error = "cannot write the work copy '" + workCopy + "'";
        } else {
            FTPCode::BuildEventScript(sEventId);
            if (!messages.firstReport().empty())
                error = platform::utf8FromCodePage(messages.firstReport());
        }
    } catch (const std::exception& e) {
        error = platform::utf8FromCodePage(e.what());
    }
    FTPCode::DeleteScriptFile(workCopy);
    return error;
}

std::optional<std::string> showScript(const std::string& id, std::string* why)
{
    CommandMessages messages;
    std::string sEventId = platform::codePageFromUtf8(id);
    if (auto text = FTPCode::LoadEventScript(sEventId))
        return text;
    if (messages.firstReport().empty()) // the load ends quietly on anything but a missing file
        *why = "cannot read '" + platform::utf8FromCodePage(platform::appPath("\\ZUL\\" + sEventId + "ZUL.zul")) + "'";
    return std::nullopt;
}
} // namespace

extern "C" __attribute__((visibility("default"))) const com::PluginEntry* zul_plugin_entry(const com::HostHooks* hooks)
{
    static com::PluginEntry entry;
    platform::setAppFolder(platform::folderOfAddress(reinterpret_cast<const void*>(&anchor)));
    entry.applicationFolder = platform::appFolder();
    entry.importScript = importScript;
    entry.showScript = showScript;
    com::registerClass(com::kGamutProgId, [] { return std::make_shared<iGamut12>(); });
    // Runs yield to the host's event loop so that its windows stay alive, and
    // the default pointer is the one without any override cursor left; a
    // host without windows lends neither.
    const auto yield = hooks ? hooks->yield : nullptr;
    const auto pointer = hooks ? hooks->defaultPointer : nullptr;
    platform::setYieldHook(yield ? std::function<void()>(yield) : std::function<void()>());
    platform::setDefaultPointerHook(pointer ? std::function<void()>(pointer) : std::function<void()>());
    return &entry;
}
