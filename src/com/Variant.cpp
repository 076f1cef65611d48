#include "com/Variant.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace zul::com {

std::string Variant::toText() const
{
    switch (kind()) {
    case Kind::Empty:
        return {};
    case Kind::Boolean:
        return asBool() ? "True" : "False";
    case Kind::Int16:
        return std::to_string(asInt16());
    case Kind::Int32:
        return std::to_string(asInt32());
    case Kind::Text:
        return asText();
    }
    return {};
}

std::optional<std::int16_t> Variant::toInt16() const
{
    double d = 0;
    switch (kind()) {
    case Kind::Empty:
        return std::int16_t{0};
    case Kind::Boolean:
        return static_cast<std::int16_t>(asBool() ? -1 : 0);
    case Kind::Int16:
        return asInt16();
    case Kind::Int32:
        d = asInt32();
        break;
    case Kind::Text: {
        const std::string& s = asText();
        std::size_t b = 0;
        std::size_t e = s.size();
        while (b < e && (s[b] == ' ' || s[b] == '\t'))
            ++b;
        while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
            --e;
        if (b == e)
            return std::nullopt;
        const std::string t = s.substr(b, e - b);
        if (t.find_first_of("xXpP") != std::string::npos)
            return std::nullopt; // no C hex notation
        char* end = nullptr;
        errno = 0;
        d = std::strtod(t.c_str(), &end);
        if (errno != 0 || end != t.c_str() + t.size() || !std::isfinite(d))
            return std::nullopt;
        break;
    }
    }
    const double r = std::nearbyint(d); // the default rounding mode is half to even
    if (r < -32768.0 || r > 32767.0)
        return std::nullopt;
    return static_cast<std::int16_t>(r);
}

const char* Variant::kindName(Kind k)
{
    switch (k) {
    case Kind::Empty:
        return "empty";
    case Kind::Boolean:
        return "bool";
    case Kind::Int16:
        return "int16";
    case Kind::Int32:
        return "int32";
    case Kind::Text:
        return "text";
    }
    return "?";
}

} // namespace zul::com
