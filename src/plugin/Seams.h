#pragma once

#include "com/HostComponents.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace zul::plugin {

// The calls the feature class makes into the script store and the run driver.
// They default to the real modules; tests put recorders in their place.
struct Seams {
    std::function<std::optional<std::string>(std::string& eventId)> loadEventScript;
    std::function<void(std::string& eventId)> buildRunScript;
    std::function<void(std::string& path)> deleteScriptFile;
    std::function<bool(std::int32_t& runMode, com::EventStructPtr& event)> runEvent;
};

Seams& seams();
void resetSeams();

} // namespace zul::plugin
