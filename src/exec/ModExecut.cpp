#include "exec/ModExecut.h"

#include "exec/ModExecutState.h"

namespace ModExecut {

namespace {
// Module-level state is per thread, like the rest of the plug-in's.
thread_local ModExecutState t_state;
} // namespace

ModExecutState& state()
{
    return t_state;
}

const ReceiptTable& NewReceipts()
{
    return t_state.newReceipts;
}

const ReceiptRecord& LastReceipt()
{
    return t_state.record;
}

const std::string& LastCheckFailure()
{
    return t_state.checkFailure;
}

const std::string& LastCommandLine()
{
    return t_state.lastCommandLine;
}

} // namespace ModExecut
