#include "plugin/iGamut12.h"

#include "com/ModuleState.h"
#include "platform/AppPath.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "platform/Yield.h"
#include "plugin/Editor.h"
#include "com/ModFTP1.h"
#include "plugin/PreparePanel.h"
#include "plugin/Seams.h"

using zul::com::moduleState;
namespace platform = zul::platform;

iGamut12::iGamut12()
{
    Class_Initialize();
}

iGamut12::~iGamut12()
{
    Class_Terminate();
}

void iGamut12::Class_Initialize()
{
    ModFTP1::CreateMessageService();
    ModFTP1::CreateFileUtility();
    ModFTP1::CreateEventStruct();
}

void iGamut12::Class_Terminate()
{
    auto& ms = moduleState();
    ms.oMsgService.reset();
    ms.oFileUtil.reset();
    ms.oCurEvent.reset();
}

std::int32_t iGamut12::ShowPanel(std::int32_t& OEventOption, zul::com::EventStructPtr& EventStruct,
                                 std::int32_t* /*uLastPanelAction: accepted, never touched*/,
                                 std::string* sNewEventId)
{
    auto& ms = moduleState();
    try {
        ms.oCurEvent = EventStruct;
        ms.uEventOption = OEventOption;
        if (OEventOption == 4)
            ms.sNewId = sNewEventId ? *sNewEventId : std::string();
        if (OEventOption == 1) {
            auto& ed = zul::plugin::editor();
            ed.setCaption(ed.caption() + " - Add Script ");
            ed.showModal();
        } else {
            ModFTP1::PreparePanel(OEventOption, EventStruct);
        }
        return ms.uPanelResult;
    } catch (const std::exception& e) {
        ModFTP1::reportFailure(e.what());
    } catch (...) {
        ModFTP1::reportFailure("Unexpected failure");
    }
    return 0;
}

bool iGamut12::NeedGridRefresh()
{
    return moduleState().bNeedRefresh;
}

std::string iGamut12::FeatureType()
{
    return "AFM";
}

std::string iGamut12::FeatureSummary()
{
    return "<NONE>";
}

bool iGamut12::Execution(std::int32_t& uRunMode, zul::com::EventStructPtr& oEvtStruct)
{
    auto& ms = moduleState();
    auto& seams = zul::plugin::seams();
    try {
        auto& event = zul::com::use(oEvtStruct);
        platform::yield();
        std::string id = event.text("BAEvent");
        if (platform::findNormalFile(platform::appPath("\\ZUL\\ZULTMP.zul")) && !platform::trim(id).empty()) {
            seams.buildRunScript(id);
            ms.sRunScript = platform::appPath("\\ZUL\\TMP" + event.text("BAEvent") + ".zul");
        } else {
            platform::yield();
            ms.sRunScript = platform::appPath("\\ZUL\\" + event.text("BAEvent") + "ZUL.zul");
        }
        platform::yield();
        const bool result = seams.runEvent(uRunMode, oEvtStruct);
        platform::yield();
        std::string runCopy = platform::appPath("\\ZUL\\TMP" + event.text("BAEvent") + ".zul");
        seams.deleteScriptFile(runCopy);
        return result;
    } catch (const std::exception& e) {
        try {
            const auto now = platform::now();
            auto& event = zul::com::use(oEvtStruct);
            zul::com::use(ms.oMsgService)
                .HandleMessages({false, zul::com::msg(3281), "L", event.Field("BAEvent"), event.Field("BAEvTYPE"),
                                 event.Field("BARUNDAY"), platform::formatMmDdYyyy(now),
                                 platform::formatHhMmSs(now), "90", std::string(e.what())});
        } catch (...) {
            // The report itself failed: nothing further can be told.
        }
    } catch (...) {
    }
    return false;
}

std::string iGamut12::DisplayMessage(std::string& /*sMessg*/)
{
    return {};
}
