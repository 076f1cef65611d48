#include "runner/Settings.h"

#include "platform/SafeOpen.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>

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

// One of a key's words, in any letter case; anything else leaves the default.
template <typename T>
void readChoice(const ConfigFile& config, const std::string& host, const char* key,
                std::initializer_list<std::pair<const char*, T>> words, T& target)
{
    const std::string v = upperKey(config.value(key, host).value_or(""));
    for (const auto& [word, value] : words)
        if (v == word)
            target = value;
}

// "on"/"off" and their usual spellings; anything else leaves the default.
void readSwitch(const ConfigFile& config, const std::string& host, const char* key, bool& target)
{
    readChoice(config, host, key,
               {{"ON", true}, {"YES", true}, {"TRUE", true}, {"1", true}, {"OFF", false}, {"NO", false},
                {"FALSE", false}, {"0", false}},
               target);
}

void readTransferKeys(const ConfigFile& config, const std::string& host, Settings& s)
{
    using Temp = Settings::UploadTemp;
    using Verify = Settings::Verify;
    readChoice(config, host, "UPLOAD_TEMP", {{"OFF", Temp::Off}, {"SUFFIX", Temp::Suffix}, {"PREFIX", Temp::Prefix}},
               s.uploadTemp);
    readChoice(config, host, "VERIFY", {{"OFF", Verify::Off}, {"SIZE", Verify::Size}, {"HASH", Verify::Hash}}, s.verify);
    readSwitch(config, host, "RESUME", s.resume);
    readSwitch(config, host, "KEEP_TIME", s.keepTime);
}

} // namespace

ConfigFile ConfigFile::parse(const std::string& text)
{
    ConfigFile out;
    std::istringstream in(text);
    std::string line;
    std::string section;
    out.m_sections[section];
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
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
        const std::string key = upperKey(trimmed(t.substr(0, eq)));
        out.m_sections[section][key] = trimmed(t.substr(eq + 1));
        out.m_entries.push_back({section, key, trimmed(t.substr(eq + 1)), number});
    }
    return out;
}

ConfigFile ConfigFile::read(const std::string& path, std::string* error)
{
    // The package links it to /etc: the link is followed, the file it reaches is checked.
    auto fd = zul::platform::openNormalThroughLink(path);
    if (!fd) {
        if (fd.error().code != zul::platform::ErrorCode::FileNotFound && error)
            *error = fd.error().description;
        return {};
    }
    auto text = zul::platform::readFrom(fd->get(), path);
    if (auto trusted = zul::platform::checkTrusted(fd->get(), path); !trusted) {
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
    readTransferKeys(config, host, s);
    s.source = config;
    return s;
}

namespace {

// The keys whose values the runner reads as numbers or as one of a few words.
constexpr const char* kNumberKeys[] = {
    "CONNECT_TIMEOUT",    "REPLY_TIMEOUT", "STALL_TIMEOUT",  "DEADLINE",        "RETRIES",
    "BACKOFF_MS",         "RETRY_BUDGET",  "LIST_MAX_NAMES", "LIST_MAX_BYTES",  "SYNC",
    "ON_FAILURE_TIMEOUT", "LOG_MAX_BYTES", "LOG_KEEP",       "TRANSCRIPT_DAYS", "RECEIPT_DAYS",
    "STATUS"};
struct WordKey {
    const char* key;
    std::vector<std::string_view> words;
};
// In any letter case, as the readers take them.
const WordKey kWordKeys[] = {{"TLS_MAX", {"1.2", "1.3"}},
                             {"UPLOAD_TEMP", {"off", "suffix", "prefix"}},
                             {"VERIFY", {"size", "hash", "off"}},
                             {"RESUME", {"on", "off", "yes", "no", "true", "false", "1", "0"}},
                             {"KEEP_TIME", {"on", "off", "yes", "no", "true", "false", "1", "0"}}};

// Empty when value is good for key (or key is not one that is checked).
std::string valueProblem(const std::string& key, const std::string& value)
{
    if (value.empty())
        return {};
    for (const char* k : kNumberKeys)
        if (key == k) {
            // As readNumber takes it: the whole text a decimal number, not negative.
            errno = 0;
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (*end != '\0' || n < 0 || errno == ERANGE)
                return key + " = '" + value + "' is not a whole number of 0 or more; the default is used";
            return {};
        }
    for (const auto& w : kWordKeys)
        if (key == w.key) {
            for (const auto word : w.words)
                if (upperKey(value) == upperKey(std::string(word)))
                    return {};
            std::string known;
            for (const auto word : w.words)
                known += (known.empty() ? "" : " or ") + std::string(word);
            return key + " = '" + value + "' is not " + known + "; the default is used";
        }
    return {};
}

} // namespace

std::vector<SettingProblem> settingsProblems(const ConfigFile& config)
{
    std::vector<SettingProblem> out;
    const auto check = [&](int line, const std::string& where, const std::string& key, const std::string& value) {
        if (const std::string why = valueProblem(key, value); !why.empty())
            out.push_back({line, where + why});
    };
    std::vector<std::string> keys;
    for (const char* k : kNumberKeys)
        keys.emplace_back(k);
    for (const auto& w : kWordKeys)
        keys.emplace_back(w.key);
    for (const auto& key : keys)
        if (const char* env = std::getenv(("ZUL_RUNNER_" + key).c_str()))
            check(0, "the environment's ZUL_RUNNER_", key, env);
    for (const auto& e : config.entries())
        check(e.line, e.section.empty() ? "" : "[" + e.section + "] ", e.key, e.value);
    return out;
}

} // namespace zul::runner
