#include "plugin/Seams.h"

#include "exec/ModExecut.h"
#include "scripts/FTPCode.h"

namespace zul::plugin {

namespace {
Seams defaults()
{
    return Seams{FTPCode::LoadEventScript, FTPCode::BuildRunScript, FTPCode::DeleteScriptFile, ModExecut::RunEvent};
}
} // namespace

Seams& seams()
{
    static Seams s = defaults();
    return s;
}

void resetSeams()
{
    seams() = defaults();
}

} // namespace zul::plugin
