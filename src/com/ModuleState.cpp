#include "com/ModuleState.h"

#include "com/Gamut.h"

namespace zul::com {

IGamut12::~IGamut12() = default;

namespace {
thread_local ModuleState t_state;
}

ModuleState& moduleState()
{
    return t_state;
}

void resetModuleState()
{
    t_state = ModuleState{};
}

} // namespace zul::com
