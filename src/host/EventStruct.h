#pragma once

#include "com/HostComponents.h"

#include <array>
#include <string>

namespace zul::host {

// QorvUtil.QorvEvntStruct: the fields of one event record, by name.
class EventStruct : public com::IEventStruct {
public:
    static constexpr std::array<const char*, 7> kFields = {"BAEvent", "BAEntName", "BAEvTYPE", "BARUNDAY",
                                                           "BAFLAG1", "BAFLAG2",   "BAFLAG4"};

    EventStruct();
    com::Variant Field(const std::string& name) const override;
    void SetField(const std::string& name, com::Variant value) override;

private:
    static int indexOf(const std::string& name);
    std::array<com::Variant, kFields.size()> m_values;
};

} // namespace zul::host
