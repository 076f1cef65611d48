#pragma once

#include "com/Export.h"

#include <memory>

namespace zul::com {

// Base of every component created by ProgID. Components are shared and
// released by dropping the last reference.
class ZUL_COM_EXPORT Object {
public:
    virtual ~Object();
};

using ObjectPtr = std::shared_ptr<Object>;

} // namespace zul::com
