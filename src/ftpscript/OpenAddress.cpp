#include "ftpscript/OpenAddress.h"

#include "ftpscript/Grammar.h"

#include <array>
#include <vector>

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

// What a host name or a numeric address (with an IPv6 scope) is made of; the
// reachability library reads hosts the same way, so both refuse the same text.
bool isHostChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_' || c == ':' || c == '%';
}

constexpr std::size_t kHostMax = 253; // the longest name a resolver takes

bool isPartnerBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

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
    const auto quoted = [](std::string_view t) { return "'" + std::string(t) + "'"; };
    OpenAddress out;
    std::string_view rest = address;
    if (const auto sep = rest.find("://"); sep != std::string_view::npos) {
        const std::string name = lower(rest.substr(0, sep));
        const SchemeInfo* found = nullptr;
        for (const auto& s : kSchemes)
            if (s.name == name)
                found = &s;
        if (!found)
            return AddressError{"unknown-scheme",
                                "unknown scheme " + quoted(rest.substr(0, sep)) + " (ftp, ftpes, ftps or sftp)"};
        out.scheme = found->scheme;
        rest = rest.substr(sep + 3);
        if (rest.ends_with('/'))
            rest.remove_suffix(1);
    }
    // "name:password@host" would put the password in every log of the line:
    // refused without repeating any of it.
    if (rest.find('@') != std::string_view::npos)
        return AddressError{"credentials-in-address",
                            "the address holds a user name or password (NAME:PASSWORD@HOST), which every log of the "
                            "line would show; give the host alone and log in with: user NAME PASSWORD"};
    out.port = defaultPort(out.scheme);
    // A port may also follow the host as in a URL: "host:2121" or "[::1]:2121".
    std::optional<std::string_view> urlPort;
    if (rest.starts_with('[')) {
        const auto close = rest.find(']');
        if (close == std::string_view::npos)
            return AddressError{"bad-address", "no closing ] in " + quoted(address)};
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':')
                return AddressError{"bad-address", "unexpected text after ] in " + quoted(address)};
            urlPort = rest.substr(close + 2);
        }
        rest = rest.substr(1, close - 1);
    } else if (const auto colon = rest.find(':');
               colon != std::string_view::npos && rest.find(':', colon + 1) == std::string_view::npos) {
        urlPort = rest.substr(colon + 1);
        rest = rest.substr(0, colon);
    }
    if (urlPort && urlPort->empty())
        return AddressError{"bad-port", "no port after ':' in " + quoted(address)};
    if (rest.empty())
        return AddressError{"no-host", "no partner host in " + quoted(address)};
    if (rest.size() > kHostMax)
        return AddressError{"bad-address", "the host in " + quoted(address) + " is longer than 253 characters"};
    for (char c : rest)
        if (!isHostChar(c))
            return AddressError{"bad-address", quoted(address) + " is not a host name or address"};
    out.host = std::string(rest);
    if (urlPort && port)
        return AddressError{"bad-port", "two ports for " + quoted(address)};
    if (const auto p = port ? port : urlPort) {
        if (!isValidPort(*p))
            return AddressError{"bad-port", "bad port " + quoted(*p) + " (1 to 65535)"};
        out.port = 0;
        for (char c : *p)
            out.port = out.port * 10 + (c - '0');
    }
    return out;
}

std::variant<OpenAddress, AddressError> parsePartnerText(std::string_view text)
{
    std::vector<std::string_view> words;
    for (std::size_t i = 0; i < text.size();) {
        if (isPartnerBlank(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !isPartnerBlank(text[end]))
            ++end;
        words.push_back(text.substr(i, end - i));
        i = end;
    }
    if (words.empty())
        return AddressError{"no-host", "no partner host"};
    if (words.size() > 2)
        return AddressError{"bad-address", "more than a host and a port"};
    return parseOpenAddress(words[0], words.size() == 2 ? std::optional<std::string_view>(words[1]) : std::nullopt);
}

} // namespace zul::ftpscript
