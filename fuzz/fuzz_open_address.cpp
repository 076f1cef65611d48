// Fuzzes the partner address of an open line: the input is split at its first
// blank into the host word and the port word, as the script gives them. The
// whole input is also read as the reachability check reads it, by ping32 and
// by the script language, which must agree.
#include "address.h"
#include "ftpscript/OpenAddress.h"

#include <cstring>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto blank = text.find(' ');
    const std::string host = text.substr(0, blank);
    const std::string port = blank == std::string::npos ? std::string() : text.substr(blank + 1);
    const auto r = zul::ftpscript::parseOpenAddress(host, blank == std::string::npos
                                                              ? std::nullopt
                                                              : std::optional<std::string_view>(port));
    if (const auto* a = std::get_if<zul::ftpscript::OpenAddress>(&r)) {
        // A partner always has a host without URL syntax and a usable port.
        if (a->host.empty() || a->port < 1 || a->port > 65535 || a->host.find_first_of("/@ ") != std::string::npos)
            std::abort();
    }
    const std::string partner = text.c_str(); // ping32 is given C text
    char pingedHost[PING32_HOST_MAX + 1] = {};
    unsigned pingedPort = 0;
    const bool pinged = ping32_parse_address(partner.c_str(), pingedHost, &pingedPort) == 0;
    const auto read = zul::ftpscript::parsePartnerText(partner);
    const auto* a = std::get_if<zul::ftpscript::OpenAddress>(&read);
    if (pinged != (a != nullptr) || (a && (a->host != pingedHost || a->port != int(pingedPort))))
        std::abort();
    return 0;
}
