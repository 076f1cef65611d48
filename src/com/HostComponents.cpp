#include "com/HostComponents.h"

namespace zul::com {

ComError::~ComError() = default;
IErrorMessages::~IErrorMessages() = default;
IFileUtility::~IFileUtility() = default;
IEventStruct::~IEventStruct() = default;
IEventPanel::~IEventPanel() = default;
IZembDB::~IZembDB() = default;

} // namespace zul::com
