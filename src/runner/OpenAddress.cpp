#include "runner/OpenAddress.h"

#include <array>
#include <cctype>
#include <utility>

namespace zul::runner {

namespace {
constexpr std::array<std::pair<const char*, Scheme>, 4> kSchemes{{
    {"ftp", Scheme::Ftp},
    {"ftpes", Scheme::Ftpes},
    {"ftps", Scheme::Ftps},
    {"sftp", Scheme::Sftp},
}};

std::string lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool portFrom(const std::string& text, int& port)
{
    if (text.empty() || text.size() > 5)
        return false;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    if (n < 1 || n > 65535)
        return false;
    port = n;
    return true;
}
} // namespace

int defaultPort(Scheme scheme)
{
    switch (scheme) {
    case Scheme::Ftps:
        return 990;
    case Scheme::Sftp:
        return 22;
    case Scheme::Ftp:
    case Scheme::Ftpes:
        break;
    }
    return 21;
}

const char* schemeName(Scheme scheme)
{
    for (const auto& [name, s] : kSchemes)
        if (s == scheme)
            return name;
    return "ftp";
}

std::variant<OpenAddress, std::string> parseOpenAddress(const std::string& hostWord, const std::string& port)
{
    OpenAddress out;
    std::string rest = hostWord;
    if (const auto sep = rest.find("://"); sep != std::string::npos) {
        const std::string name = lower(rest.substr(0, sep));
        bool known = false;
        for (const auto& [n, s] : kSchemes)
            if (name == n) {
                out.scheme = s;
                known = true;
            }
        if (!known)
            return "open: unknown scheme \"" + rest.substr(0, sep) + "://\" (ftp, ftpes, ftps or sftp)";
        rest = rest.substr(sep + 3);
        if (!rest.empty() && rest.back() == '/')
            rest.pop_back();
    }
    out.port = defaultPort(out.scheme);
    // A port may also follow the host as in a URL: "host:2121" or "[::1]:2121".
    std::string urlPort;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos)
            return "open: no closing ] in " + hostWord;
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':')
                return "open: unexpected text after ] in " + hostWord;
            urlPort = rest.substr(close + 2);
            if (urlPort.empty())
                return "open: no port after : in " + hostWord;
        }
        rest = rest.substr(1, close - 1);
    } else if (const auto colon = rest.find(':');
               colon != std::string::npos && rest.find(':', colon + 1) == std::string::npos) {
        urlPort = rest.substr(colon + 1);
        rest = rest.substr(0, colon);
        if (urlPort.empty())
            return "open: no port after : in " + hostWord;
    }
    if (rest.empty())
        return "open: no partner host in " + hostWord;
    if (rest.find_first_of("/@?#") != std::string::npos)
        return "open: " + hostWord + " is not a host name or address";
    out.host = rest;
    if (!urlPort.empty() && !port.empty())
        return "open: two ports for " + hostWord;
    const std::string& p = port.empty() ? urlPort : port;
    if (!p.empty() && !portFrom(p, out.port))
        return "open: " + p + " is not a port (1 to 65535)";
    return out;
}

} // namespace zul::runner
