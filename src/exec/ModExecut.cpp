#include "exec/ModExecut.h"

namespace ModExecut {

bool RunEvent(std::int32_t&, zul::com::EventStructPtr&)
{
    return false;
}

} // namespace ModExecut
