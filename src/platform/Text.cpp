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
    // Per lead byte range: the length, and the range its second byte must be in.
    struct Lead {
        unsigned char first, last;
        std::size_t n;
        unsigned char lo, hi;
    };
    static constexpr Lead kLeads[] = {
        {0xc2, 0xdf, 2, 0x80, 0xbf}, {0xe0, 0xe0, 3, 0xa0, 0xbf}, {0xe1, 0xec, 3, 0x80, 0xbf},
        {0xed, 0xed, 3, 0x80, 0x9f}, {0xee, 0xef, 3, 0x80, 0xbf}, {0xf0, 0xf0, 4, 0x90, 0xbf},
        {0xf1, 0xf3, 4, 0x80, 0xbf}, {0xf4, 0xf4, 4, 0x80, 0x8f},
    };
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    for (const Lead& lead : kLeads) {
        if (b(0) < lead.first || b(0) > lead.last)
            continue;
        if (s.size() < lead.n || b(1) < lead.lo || b(1) > lead.hi)
            return 0;
        for (std::size_t i = 2; i < lead.n; ++i)
            if (b(i) < 0x80 || b(i) > 0xbf)
                return 0;
        return lead.n;
    }
    return 0;
}

// A C1 control written as UTF-8 (U+0080 to U+009F) starts at s, n being its
// sequence length.
bool isUtf8C1(std::string_view s, std::size_t n)
{
    return n == 2 && static_cast<unsigned char>(s[0]) == 0xc2 && static_cast<unsigned char>(s[1]) <= 0x9f;
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
        } else if (isUtf8C1(text.substr(i), n)) {
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
        if (isUtf8C1(text.substr(i), n))
            return true;
        i += n == 0 ? 1 : n;
    }
    return false;
}

PartnerTextSpan partnerTextSpan(std::string_view script, std::string_view lineEnd)
{
    const std::size_t open = script.find("open");
    const std::size_t start = open == std::string_view::npos ? 4 : open + 5;
    return {open, start, script.find(lineEnd, start)};
}

} // namespace zul::platform
