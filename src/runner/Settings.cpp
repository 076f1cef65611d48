#include "runner/Settings.h"

#include "platform/SafeOpen.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace zul::runner {

namespace {

std::string upperKey(std::string s)
{
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

template <typename T> void readNumber(const ConfigFile& config, const std::string& host, const char* key, T& target)
{
    const auto v = config.value(key, host);
    if (!v || v->empty())
        return;
    char* end = nullptr;
    const long n = std::strtol(v->c_str(), &end, 10);
    if (end && *end == '\0' && n >= 0)
        target = T(n);
}

// "~/x" is x in the home folder.
std::string homePath(const std::string& path)
{
    if (path.rfind("~/", 0) != 0)
        return path;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/") + path.substr(1);
}

} // namespace

ConfigFile ConfigFile::parse(const std::string& text)
{
    ConfigFile out;
    std::istringstream in(text);
    std::string line;
    std::string section;
    out.m_sections[section];
    while (std::getline(in, line)) {
        const std::string t = trimmed(line);
        if (t.empty() || t[0] == '#' || t[0] == ';')
            continue;
        if (t.front() == '[' && t.back() == ']') {
            section = trimmed(t.substr(1, t.size() - 2));
            for (char& c : section)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            continue;
        }
        const auto eq = t.find('=');
        if (eq == std::string::npos)
            continue;
        out.m_sections[section][upperKey(trimmed(t.substr(0, eq)))] = trimmed(t.substr(eq + 1));
    }
    return out;
}

ConfigFile ConfigFile::read(const std::string& path, std::string* error)
{
    // The package links it to /etc: the link is followed, the file it reaches is checked.
    const zul::platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno != ENOENT && error)
            *error = path + ": " + std::strerror(errno);
        return {};
    }
    auto text = zul::platform::readFrom(fd.get(), path);
    if (auto trusted = zul::platform::checkTrusted(fd.get(), path); !trusted) {
        if (error)
            *error = trusted.error().description;
        ConfigFile refused;
        refused.m_refused = true;
        return refused;
    }
    if (!text) {
        if (error)
            *error = text.error().description;
        return {};
    }
    return parse(*text);
}

std::optional<std::string> ConfigFile::value(const std::string& key, const std::string& host) const
{
    const std::string k = upperKey(key);
    if (const char* env = std::getenv(("ZUL_RUNNER_" + k).c_str()))
        return std::string(env);
    auto lookup = [&](const std::string& section) -> std::optional<std::string> {
        const auto s = m_sections.find(section);
        if (s == m_sections.end())
            return std::nullopt;
        const auto v = s->second.find(k);
        if (v == s->second.end())
            return std::nullopt;
        return v->second;
    };
    if (!host.empty()) {
        std::string h = host;
        for (char& c : h)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (auto v = lookup(h))
            return v;
    }
    return lookup("");
}

Settings Settings::fromConfig(const ConfigFile& config, const std::string& host)
{
    Settings s;
    readNumber(config, host, "CONNECT_TIMEOUT", s.connectTimeout);
    readNumber(config, host, "REPLY_TIMEOUT", s.replyTimeout);
    readNumber(config, host, "STALL_TIMEOUT", s.stallTimeout);
    readNumber(config, host, "DEADLINE", s.deadline);
    readNumber(config, host, "RETRIES", s.retries);
    readNumber(config, host, "BACKOFF_MS", s.backoff);
    readNumber(config, host, "RETRY_BUDGET", s.retryBudget);
    readNumber(config, host, "LIST_MAX_NAMES", s.listMaxNames);
    readNumber(config, host, "LIST_MAX_BYTES", s.listMaxBytes);
    int sync = 1;
    readNumber(config, host, "SYNC", sync);
    s.syncReceived = sync != 0;
    int status = 1;
    readNumber(config, host, "STATUS", status);
    s.statusRecord = status != 0;
    s.caFile = homePath(config.value("CA_FILE", host).value_or(""));
    s.pinnedKey = config.value("PINNED_KEY", host).value_or("");
    if (!s.pinnedKey.empty() && s.pinnedKey.rfind("sha256//", 0) != 0)
        s.pinnedKey = homePath(s.pinnedKey);
    s.tlsMax = config.value("TLS_MAX", host).value_or("1.3") == "1.2" ? "1.2" : "1.3";
    s.knownHosts = homePath(config.value("KNOWN_HOSTS", host).value_or("~/.ssh/known_hosts"));
    s.sshKey = homePath(config.value("SSH_KEY", host).value_or(""));
    if (s.sshKey.empty()) {
        s.sshKey = homePath("~/.ssh/id_ed25519");
        if (::access(s.sshKey.c_str(), F_OK) != 0 && ::access(homePath("~/.ssh/id_rsa").c_str(), F_OK) == 0)
            s.sshKey = homePath("~/.ssh/id_rsa");
    }
    s.onFailure = config.value("ON_FAILURE", host).value_or("");
    readNumber(config, host, "ON_FAILURE_TIMEOUT", s.onFailureTimeout);
    s.source = config;
    return s;
}

Settings Settings::fromEnvironment()
{
    return fromConfig(ConfigFile{});
}

} // namespace zul::runner
