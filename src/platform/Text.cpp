#include "platform/Text.h"

#include <cstdio>

namespace zul::platform {

std::string trim(std::string_view s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && s[b] == ' ')
        ++b;
    while (e > b && s[e - 1] == ' ')
        --e;
    return std::string(s.substr(b, e - b));
}

std::size_t instr(std::size_t start, std::string_view hay, std::string_view needle)
{
    if (start == 0)
        start = 1;
    if (start > hay.size() + 1)
        return 0;
    const auto pos = hay.find(needle, start - 1);
    return pos == std::string_view::npos ? 0 : pos + 1;
}

std::string mid(std::string_view s, std::size_t start, std::size_t len)
{
    if (start == 0)
        start = 1;
    if (start > s.size())
        return {};
    return std::string(s.substr(start - 1, len));
}

std::string left(std::string_view s, std::size_t len)
{
    return std::string(s.substr(0, len));
}

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool upperLeftEquals(std::string_view s, std::size_t len, std::string_view word)
{
    const std::string_view head = s.substr(0, len);
    if (head.size() != word.size())
        return false;
    for (std::size_t i = 0; i < head.size(); ++i) {
        const char c = head[i] >= 'a' && head[i] <= 'z' ? static_cast<char>(head[i] - 'a' + 'A') : head[i];
        if (c != word[i])
            return false;
    }
    return true;
}

std::string fitLeft(std::string_view s, std::size_t width)
{
    std::string out(s.substr(0, width));
    out.resize(width, ' ');
    return out;
}

std::string twoDigits(long value)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02ld", value);
    return buf;
}

namespace {
// The length of the valid UTF-8 sequence at the start of s (overlong forms,
// surrogates and code points above U+10FFFF are not valid), 0 if there is none.
std::size_t utf8Length(std::string_view s)
{
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    std::size_t n = 0;
    unsigned lo = 0x80, hi = 0xbf; // the range of the second byte
    if (c >= 0xc2 && c <= 0xdf) {
        n = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
        n = 3;
        if (c == 0xe0)
            lo = 0xa0;
        else if (c == 0xed)
            hi = 0x9f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4;
        if (c == 0xf0)
            lo = 0x90;
        else if (c == 0xf4)
            hi = 0x8f;
    } else {
        return 0;
    }
    if (s.size() < n || b(1) < lo || b(1) > hi)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (b(i) < 0x80 || b(i) > 0xbf)
            return 0;
    return n;
}
} // namespace

std::string escapeControls(std::string_view text, std::string_view kept)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto hex = [](std::string& out, unsigned char c) {
        out += kHex[c >> 4];
        out += kHex[c & 0xf];
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if ((c < 0x20 || c == 0x7f) && kept.find(char(c)) == std::string_view::npos) {
                out += "\\x";
                hex(out, c);
            } else {
                out += char(c);
            }
            ++i;
            continue;
        }
        const std::size_t n = utf8Length(text.substr(i));
        if (n == 0) {
            out += "\\x";
            hex(out, c);
            ++i;
        } else if (n == 2 && c == 0xc2 && static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            out += "\\u00";
            hex(out, static_cast<unsigned char>(text[i + 1]));
            i += 2;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

bool holdsControls(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0x9f))
            return true;
        const std::size_t n = c < 0x80 ? 1 : utf8Length(text.substr(i));
        if (n == 2 && c == 0xc2 && static_cast<unsigned char>(text[i + 1]) <= 0x9f)
            return true;
        i += n == 0 ? 1 : n;
    }
    return false;
}

} // namespace zul::platform
