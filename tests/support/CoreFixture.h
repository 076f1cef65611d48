#pragma once

#include "support/Fakes.h"
#include "support/TempAppFolder.h"

#include <memory>

namespace zul::test {

// What a test of the core modules starts from: zeroed module state, the
// fakes under the host's ProgIDs (their message service in the state) and a
// fresh application folder.
struct CoreFixture {
    std::shared_ptr<Fakes> fakes;
    std::unique_ptr<TempAppFolder> app;

    void setUp();
    void tearDown();
};

} // namespace zul::test
