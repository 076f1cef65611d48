#pragma once

#include "com/HostComponents.h"

#include <cstdint>
#include <string>

// The plug-in's public class as the host calls it.
namespace zul::com {

inline constexpr const char* kGamutProgId = "oGamut12.iGamut12";

enum class EventAction : std::int32_t { Add = 1, Update = 2, Delete = 3, Duplicate = 4 };
enum class PnlAction : std::int32_t { actContinue = 1, actRun = 2, actcancel = 3, actGoBack = 4 };
enum class RunMode : std::int32_t { DirectExecution = 0, ViaSchedule = 1 };

// _iGamut12, members in their dispatch order.
class ZUL_COM_EXPORT IGamut12 : public Object {
public:
    ~IGamut12() override;
    virtual std::int32_t ShowPanel(std::int32_t& OEventOption, EventStructPtr& EventStruct,
                                   std::int32_t* uLastPanelAction = nullptr, std::string* sNewEventId = nullptr) = 0;
    virtual bool NeedGridRefresh() = 0;
    virtual std::string FeatureType() = 0;
    virtual std::string FeatureSummary() = 0;
    virtual bool Execution(std::int32_t& uRunMode, EventStructPtr& oEvtStruct) = 0;
    virtual std::string DisplayMessage(std::string& sMessg) = 0;
};

} // namespace zul::com
