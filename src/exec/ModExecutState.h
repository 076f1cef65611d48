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
};

ModExecutState& state();

} // namespace ModExecut
