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
    // A script this thread has just written for the next runner, and its
    // bytes: the runner is handed that file only while it holds them.
    std::string expectedPath;
    std::string expectedText;
};

ModExecutState& state();

} // namespace ModExecut
