#include "ftpscript/OpenAddress.h"

#include "ftpscript/Grammar.h"

#include <array>

namespace zul::ftpscript {

namespace {

struct SchemeInfo {
    std::string_view name;
    Scheme scheme;
    int port;
};

constexpr std::array kSchemes{
    SchemeInfo{"ftp", Scheme::Ftp, 21},
    SchemeInfo{"ftpes", Scheme::Ftpes, 21},
    SchemeInfo{"ftps", Scheme::Ftps, 990},
    SchemeInfo{"sftp", Scheme::Sftp, 22},
};

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return out;
}

} // namespace

int defaultPort(Scheme scheme)
{
    for (const auto& s : kSchemes)
        if (s.scheme == scheme)
            return s.port;
    return 21;
}

std::string_view schemeName(Scheme scheme)
{
    for (const auto& s : kSchemes)
        if (s.scheme == scheme)
            return s.name;
    return "ftp";
}

std::variant<OpenAddress, AddressError> parseOpenAddress(std::string_view address, std::optional<std::string_view> port)
{
    OpenAddress out;
    std::string_view host = address;
    if (const auto sep = address.find("://"); sep != std::string_view::npos) {
        const std::string name = lower(address.substr(0, sep));
        const SchemeInfo* found = nullptr;
        for (const auto& s : kSchemes)
            if (s.name == name)
                found = &s;
        if (!found)
            return AddressError{"unknown-scheme", "unknown scheme '" + std::string(address.substr(0, sep)) +
                                                      "' (ftp, ftpes, ftps or sftp)"};
        out.scheme = found->scheme;
        host = address.substr(sep + 3);
        if (host.ends_with('/'))
            host.remove_suffix(1);
    }
    if (host.empty())
        return AddressError{"no-host", "no partner address after '" + std::string(address) + "'"};
    out.host = std::string(host);
    out.port = defaultPort(out.scheme);
    if (port) {
        if (!isValidPort(*port))
            return AddressError{"bad-port", "bad port '" + std::string(*port) + "' (1 to 65535)"};
        out.port = 0;
        for (char c : *port)
            out.port = out.port * 10 + (c - '0');
    }
    return out;
}

} // namespace zul::ftpscript
