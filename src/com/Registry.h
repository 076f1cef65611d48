#pragma once

#include "com/Object.h"

#include <functional>
#include <memory>
#include <string>

namespace zul::com {

using Factory = std::function<ObjectPtr()>;

// The process-wide table of creatable components, filled by the host at start
// (and by tests with fakes). ProgIDs are matched without regard to case.
ZUL_COM_EXPORT void registerClass(const std::string& progId, Factory factory);
ZUL_COM_EXPORT void unregisterClass(const std::string& progId);
ZUL_COM_EXPORT void clearRegistry();
ZUL_COM_EXPORT bool isRegistered(const std::string& progId);

// Creates a component. Nothing when the ProgID is not registered or its
// factory fails; callers decide how quietly to end.
ZUL_COM_EXPORT ObjectPtr CreateObject(const std::string& progId);

template <typename Interface>
std::shared_ptr<Interface> CreateObjectAs(const std::string& progId)
{
    return std::dynamic_pointer_cast<Interface>(CreateObject(progId));
}

} // namespace zul::com
