#pragma once

#include "com/Gamut.h"

// The plug-in's public class. It keeps no fields of its own: everything lives
// in the module state, which outlives it.
class iGamut12 : public zul::com::IGamut12 {
public:
    iGamut12();           // Class_Initialize
    ~iGamut12() override; // Class_Terminate

    std::int32_t ShowPanel(std::int32_t& OEventOption, zul::com::EventStructPtr& EventStruct,
                           std::int32_t* uLastPanelAction = nullptr, std::string* sNewEventId = nullptr) override;
    bool NeedGridRefresh() override;
    std::string FeatureType() override;
    std::string FeatureSummary() override;
    bool Execution(std::int32_t& uRunMode, zul::com::EventStructPtr& oEvtStruct) override;
    std::string DisplayMessage(std::string& sMessg) override;

private:
    static void Class_Initialize();
    static void Class_Terminate();
};
