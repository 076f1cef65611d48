#include "support/CoreFixture.h"

#include "com/ModuleState.h"
#include "com/Registry.h"

namespace zul::test {

void CoreFixture::setUp()
{
    com::resetModuleState();
    com::clearRegistry();
    fakes = registerFakes();
    com::moduleState().oMsgService = fakes->messages;
    app = std::make_unique<TempAppFolder>();
}

void CoreFixture::tearDown()
{
    app.reset();
    com::clearRegistry();
    com::resetModuleState();
}

} // namespace zul::test
