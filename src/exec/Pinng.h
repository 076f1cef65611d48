#pragma once

#include <string>

// The partner reachability check.
namespace Pinng {

// True when the partner answers. The address goes to libping32.so as it is;
// a missing library or function counts as a partner that does not answer.
bool PingPartner(const std::string& address);

} // namespace Pinng
