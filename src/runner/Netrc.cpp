#include "runner/Netrc.h"

#include "platform/SafeOpen.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zul::runner {

namespace {

bool sameHost(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Words separated by blanks and line ends; "quoted words" may hold blanks and
// \" ; a '#' as a line's first word comments out the rest of that line. A
// macdef's body (up to the next empty line) is dropped.
std::vector<std::string> tokens(std::string_view text)
{
    std::vector<std::string> out;
    std::size_t i = 0;
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    bool lineStart = true; // only blanks so far on this line
    while (i < text.size()) {
        if (isBlank(text[i])) {
            lineStart = lineStart || text[i] == '\n';
            ++i;
            continue;
        }
        if (text[i] == '#' && lineStart) {
            while (i < text.size() && text[i] != '\n')
                ++i;
            continue;
        }
        lineStart = false;
        std::string word;
        if (text[i] == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size())
                    ++i;
                word += text[i];
            }
            ++i;
        } else {
            while (i < text.size() && !isBlank(text[i]))
                word += text[i++];
        }
        const auto valueOf = [&](std::size_t k) { // out[k] is the value of the keyword before it
            return k > 0 && (out[k - 1] == "machine" || out[k - 1] == "login" || out[k - 1] == "password" ||
                             out[k - 1] == "account");
        };
        if (!out.empty() && out.back() == "macdef" && !valueOf(out.size() - 1)) {
            // The name, then the body up to an empty line.
            out.pop_back();
            const auto end = text.find("\n\n", i);
            const auto endCr = text.find("\n\r\n", i);
            i = std::min(end == std::string_view::npos ? text.size() : end + 2,
                         endCr == std::string_view::npos ? text.size() : endCr + 3);
            continue;
        }
        out.push_back(std::move(word));
    }
    return out;
}

} // namespace

std::optional<std::string> netrcFind(std::string_view text, const std::string& host, const std::string& login)
{
    const auto words = tokens(text);
    struct Entry {
        bool isDefault = false;
        std::string machine;
        std::optional<std::string> login;
        std::optional<std::string> password;
    };
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        const bool hasValue = i + 1 < words.size();
        if (w == "default") {
            entries.push_back({true, {}, {}, {}});
        } else if (w == "machine" && hasValue) {
            entries.push_back({false, words[++i], {}, {}});
        } else if ((w == "login" || w == "password" || w == "account") && hasValue) {
            const std::string& v = words[++i];
            if (entries.empty())
                continue;
            if (w == "login")
                entries.back().login = v;
            else if (w == "password")
                entries.back().password = v;
        }
    }
    const auto fits = [&](const Entry& e) { return e.password && (!e.login || *e.login == login); };
    for (const auto& e : entries)
        if (!e.isDefault && sameHost(e.machine, host) && fits(e))
            return e.password;
    for (const auto& e : entries)
        if (e.isDefault && fits(e))
            return e.password;
    return std::nullopt;
}

std::string netrcPath()
{
    if (const char* env = std::getenv("NETRC"); env && *env)
        return env;
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h)
        home = h;
    else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        home = pw->pw_dir;
    return home.empty() ? std::string() : home + "/.netrc";
}

NetrcLookup netrcPassword(const std::string& host, const std::string& login)
{
    NetrcLookup out;
    out.path = netrcPath();
    if (out.path.empty())
        return out;
    struct stat st {};
    auto fd = zul::platform::openNormalThroughLink(out.path, &st);
    if (!fd) {
        if (fd.error().code == zul::platform::ErrorCode::BadFileName)
            out.error = out.path + " is not a file";
        else if (fd.error().code != zul::platform::ErrorCode::FileNotFound)
            out.error = "cannot read " + out.path + ": " + fd.error().description;
        return out;
    }
    std::string text;
    if (auto trusted = zul::platform::checkTrusted(fd->get(), out.path); !trusted) {
        out.error = trusted.error().description;
    } else if (auto read = zul::platform::readFrom(fd->get(), out.path); !read) {
        out.error = "cannot read " + out.path + ": " + read.error().description;
    } else {
        text = std::move(*read);
    }
    if (out.error.empty())
        out.password = netrcFind(text, host, login);
    // A password taken from a file others may read is refused too, as the classic client does.
    if (out.password && (st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
        out.password.reset();
        out.error = out.path + " can be read or changed by its group or others (mode " + mode +
                    "); refused: make it the owner's alone with chmod 600";
    }
    return out;
}

} // namespace zul::runner
