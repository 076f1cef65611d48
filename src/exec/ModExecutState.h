#pragma once

#include "exec/ModExecut.h"

#include <string>

namespace ModExecut {

// What the module keeps between calls on one thread.
struct ModExecutState {
    ReceiptRecord record;
    ReceiptTable newReceipts;
    std::string lastCommandLine;
};

ModExecutState& state();

} // namespace ModExecut
