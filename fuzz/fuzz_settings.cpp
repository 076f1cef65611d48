// Fuzzes the runner's settings file: any bytes parse, the first line naming a
// partner whose section is applied; the numbers that come out stay in range.
#include "runner/Settings.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto config = zul::runner::ConfigFile::parse(text);
    const std::string host = text.substr(0, text.find('\n'));
    for (const auto& s : {zul::runner::Settings::fromConfig(config), zul::runner::Settings::fromConfig(config, host)}) {
        if (s.retries < 0 || s.backoff.count() < 0 || s.listMaxNames < 0 || s.listMaxBytes < 0 ||
            s.connectTimeout.count() < 0 || s.deadline.count() < 0)
            std::abort();
        (void)s.forPartner(host);
    }
    return 0;
}
