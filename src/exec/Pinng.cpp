#include "exec/Pinng.h"

#include "platform/AppPath.h"
#include "platform/Library.h"
#include "platform/Yield.h"

#include <cstdint>
#include <mutex>

namespace Pinng {

namespace {

using PingFunction = std::int16_t (*)(const char* address, char* buffer, int size, std::int32_t* reply, int timeout,
                                      int flags);

// Loaded at the first call from the application folder; a failed load is
// tried again on the next call, and a new folder loads its own library.
PingFunction pingFunction()
{
    static std::mutex mutex;
    static std::string loadedFrom;
    static PingFunction function = nullptr;

    const std::string path = zul::platform::appPath("\\libping32.so");
    std::lock_guard lock(mutex);
    if (!function || loadedFrom != path) {
        function = reinterpret_cast<PingFunction>(zul::platform::loadSymbol(path, "ping"));
        loadedFrom = path;
    }
    return function;
}

} // namespace

bool PingPartner(const std::string& address)
{
    bool result = false;
    try {
        if (const PingFunction ping = pingFunction()) {
            char buffer[] = "                "; // sixteen blanks
            std::int32_t reply = 0;
            const std::int16_t answer = ping(address.c_str(), buffer, 32, &reply, 2000, 0);
            zul::platform::yield();
            result = answer == 0;
        }
    } catch (...) {
        result = false;
    }
    return result;
}

} // namespace Pinng
