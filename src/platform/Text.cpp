#include "platform/Text.h"

#include <cstdio>

namespace zul::platform {

std::string trimLeft(std::string_view s)
{
    std::size_t b = 0;
    while (b < s.size() && s[b] == ' ')
        ++b;
    return std::string(s.substr(b));
}

std::string trimRight(std::string_view s)
{
    std::size_t e = s.size();
    while (e > 0 && s[e - 1] == ' ')
        --e;
    return std::string(s.substr(0, e));
}

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

} // namespace zul::platform
