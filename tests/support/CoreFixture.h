#pragma once

#include "support/Fakes.h"
#include "support/TempAppFolder.h"

#include <memory>

namespace zul::test {

// Zeroed module state, the fakes under the host's ProgIDs and a fresh application folder.
struct CoreFixture {
    std::shared_ptr<Fakes> fakes;
    std::unique_ptr<TempAppFolder> app;

    void setUp();
    void tearDown();
};

} // namespace zul::test
