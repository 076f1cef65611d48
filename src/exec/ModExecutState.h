#pragma once

#include "exec/ModExecut.h"

#include <string>

namespace ModExecut {

// What the module keeps between calls on one thread.
struct ModExecutState {
    ReceiptRecord record;
    ReceiptTable newReceipts;
    std::string lastCommandLine;
    std::string checkFailure; // why the latest CheckTransfers returned ""
    // What the latest check wrote as the runner copy, until a runner is given it.
    std::string runnerCopyPath;
    std::string runnerCopyText;
};

ModExecutState& state();

} // namespace ModExecut
