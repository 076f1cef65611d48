#include "runner/SftpSession.h"

#include "platform/CommandWords.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cctype>
#include <optional>

namespace zul::runner {

namespace {
std::string base64(const unsigned char* data, std::size_t size)
{
    std::string out(4 * ((size + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, int(size));
    out.resize(std::size_t(n < 0 ? 0 : n));
    return out;
}
} // namespace

std::optional<std::string> unbase64(std::string_view text)
{
    if (text.empty() || text.size() % 4 != 0)
        return std::nullopt;
    std::string out(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    if (n < 0)
        return std::nullopt;
    std::size_t pad = 0;
    for (std::size_t i = text.size(); i > 0 && text[i - 1] == '=' && pad < 2; --i)
        ++pad;
    out.resize(std::size_t(n) - pad);
    return out;
}

namespace {

// OpenSSH's patterns: '*' any run of characters, '?' one, letter case ignored.
bool wildcardMatch(std::string_view pattern, std::string_view name)
{
    std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || std::tolower(static_cast<unsigned char>(pattern[p])) ==
                                                            std::tolower(static_cast<unsigned char>(name[n])))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool hashedMatch(std::string_view field, const std::string& name)
{
    // |1|base64 salt|base64 HMAC-SHA1 of the name under the salt
    const auto bar = field.find('|', 3);
    if (bar == std::string_view::npos)
        return false;
    const auto salt = unbase64(field.substr(3, bar - 3));
    const auto hash = unbase64(field.substr(bar + 1));
    if (!salt || !hash)
        return false;
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macSize = 0;
    if (!HMAC(EVP_sha1(), salt->data(), int(salt->size()), reinterpret_cast<const unsigned char*>(name.data()),
              name.size(), mac, &macSize))
        return false;
    return hash->size() == macSize && std::equal(mac, mac + macSize, hash->begin(), [](unsigned char a, char b) {
               return a == static_cast<unsigned char>(b);
           });
}

bool hostsMatch(std::string_view field, const std::string& name)
{
    if (field.starts_with("|1|"))
        return hashedMatch(field, name);
    bool matched = false;
    std::size_t start = 0;
    while (start <= field.size()) {
        auto comma = field.find(',', start);
        if (comma == std::string_view::npos)
            comma = field.size();
        std::string_view pattern = field.substr(start, comma - start);
        const bool negated = pattern.starts_with('!');
        if (negated)
            pattern.remove_prefix(1);
        if (!pattern.empty() && wildcardMatch(pattern, name)) {
            if (negated)
                return false; // a negated pattern that matches rules the line out
            matched = true;
        }
        start = comma + 1;
    }
    return matched;
}
} // namespace

KnownHost lookUpKnownHost(std::string_view text, const std::string& host, int port, const unsigned char* blob,
                          std::size_t size)
{
    // The name as the file holds it: the host alone for port 22, else "[host]:port".
    const std::string name = port == 22 ? host : "[" + host + "]:" + std::to_string(port);
    const std::string_view key(reinterpret_cast<const char*>(blob), size);
    const std::string type = describeHostKey(host, port, blob, size).type;
    bool known = false, changed = false;
    std::size_t start = 0;
    while (start < text.size()) {
        auto nl = text.find('\n', start);
        if (nl == std::string_view::npos)
            nl = text.size();
        std::string line(text.substr(start, nl - start));
        start = nl + 1;
        for (char& c : line)
            if (c == '\t' || c == '\r')
                c = ' ';
        auto words = platform::splitWords(line);
        if (words.empty() || words[0].starts_with('#'))
            continue;
        std::string marker;
        if (words[0].starts_with('@')) {
            marker = words[0];
            words.erase(words.begin());
        }
        if (words.size() < 3 || !hostsMatch(words[0], name))
            continue;
        const auto lineKey = unbase64(words[2]);
        const bool same = lineKey && *lineKey == key;
        if (marker == "@revoked") {
            if (same)
                return KnownHost::Revoked;
        } else if (marker.empty()) {
            if (same)
                known = true;
            else if (words[1] == type)
                changed = true;
        }
    }
    return known ? KnownHost::Known : changed ? KnownHost::Changed : KnownHost::Unknown;
}

HostKeyView describeHostKey(const std::string& host, int port, const unsigned char* blob, std::size_t size)
{
    HostKeyView v;
    // The key blob begins with its type name as an SSH string (32-bit length, bytes).
    if (size >= 4) {
        const std::size_t len = std::size_t(blob[0]) << 24 | std::size_t(blob[1]) << 16 |
                                std::size_t(blob[2]) << 8 | std::size_t(blob[3]);
        if (len <= size - 4)
            v.type.assign(reinterpret_cast<const char*>(blob + 4), len);
    }
    if (v.type.empty())
        v.type = "unknown-key-type";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    EVP_Digest(blob, size, digest, &digestSize, EVP_sha256(), nullptr);
    std::string fp = base64(digest, digestSize);
    while (!fp.empty() && fp.back() == '=')
        fp.pop_back();
    v.fingerprint = "SHA256:" + fp;
    const std::string name = port == 22 ? host : "[" + host + "]:" + std::to_string(port);
    v.knownHostsLine = name + " " + v.type + " " + base64(blob, size);
    return v;
}

} // namespace zul::runner
