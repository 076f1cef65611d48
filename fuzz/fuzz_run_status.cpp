// Fuzzes the status record of a running run as the history reads it from the
// Lock folder: whatever the file holds, what is shown of it is escaped, and
// what the writer makes of a parsed record parses back the same.
#include "platform/Text.h"
#include "records/RunStatus.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto status = zul::records::parseStatus(text);
    if (!status)
        return 0;
    (void)status->secondsLeft();
    (void)zul::records::progressText(*status);
    const auto again = zul::records::parseStatus(zul::records::statusText(*status));
    if (!again || zul::records::statusText(*again) != zul::records::statusText(*status))
        std::abort();
    if (zul::platform::holdsControls(zul::platform::escapeControls(zul::records::progressText(*again), "")))
        std::abort();
    return 0;
}
