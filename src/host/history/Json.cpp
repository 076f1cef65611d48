#include "host/history/Json.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace zul::history {

namespace {

const Json& undefinedValue()
{
    static const Json v;
    return v;
}

void appendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xc0 | (c >> 6));
        out += char(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += char(0xe0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3f));
        out += char(0x80 | (c & 0x3f));
    } else {
        out += char(0xf0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3f));
        out += char(0x80 | ((c >> 6) & 0x3f));
        out += char(0x80 | (c & 0x3f));
    }
}

} // namespace

class JsonParser {
public:
    explicit JsonParser(std::string_view text) : p(text.data()), end(text.data() + text.size()) {}

    bool document(Json& v)
    {
        blanks();
        if (p == end || (*p != '{' && *p != '['))
            return false;
        if (!value(v, 0))
            return false;
        blanks();
        return p == end;
    }

private:
    static constexpr int kMaxDepth = 512;
    const char* p;
    const char* end;

    void blanks()
    {
        while (p != end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;
    }
    bool word(const char* w)
    {
        const std::size_t n = std::strlen(w);
        if (std::size_t(end - p) < n || std::memcmp(p, w, n) != 0)
            return false;
        p += n;
        return true;
    }

    bool value(Json& v, int depth)
    {
        blanks();
        if (p == end || depth > kMaxDepth)
            return false;
        switch (*p) {
        case '{':
            return object(v, depth);
        case '[':
            return array(v, depth);
        case '"':
            v.m_type = Json::Type::String;
            return string(v.m_text);
        case 't':
            v.m_type = Json::Type::Bool;
            v.m_bool = true;
            return word("true");
        case 'f':
            v.m_type = Json::Type::Bool;
            return word("false");
        case 'n':
            v.m_type = Json::Type::Null;
            return word("null");
        default:
            return number(v);
        }
    }

    bool object(Json& v, int depth)
    {
        v.m_type = Json::Type::Object;
        v.m_members.reserve(16); // a run record's members, without growing
        ++p;
        blanks();
        if (p != end && *p == '}') {
            ++p;
            return true;
        }
        for (;;) {
            blanks();
            std::string key;
            if (p == end || *p != '"' || !string(key))
                return false;
            blanks();
            if (p == end || *p++ != ':')
                return false;
            Json member;
            if (!value(member, depth + 1))
                return false;
            v.m_members.emplace_back(std::move(key), std::move(member));
            blanks();
            if (p == end)
                return false;
            if (*p == ',') {
                ++p;
                continue;
            }
            return *p++ == '}';
        }
    }

    bool array(Json& v, int depth)
    {
        v.m_type = Json::Type::Array;
        v.m_elements.reserve(16);
        ++p;
        blanks();
        if (p != end && *p == ']') {
            ++p;
            return true;
        }
        for (;;) {
            Json element;
            if (!value(element, depth + 1))
                return false;
            v.m_elements.push_back(std::move(element));
            blanks();
            if (p == end)
                return false;
            if (*p == ',') {
                ++p;
                continue;
            }
            return *p++ == ']';
        }
    }

    bool hex4(std::uint32_t& c)
    {
        if (end - p < 4)
            return false;
        c = 0;
        for (int i = 0; i < 4; ++i, ++p) {
            const char h = *p;
            c <<= 4;
            if (h >= '0' && h <= '9')
                c |= std::uint32_t(h - '0');
            else if (h >= 'a' && h <= 'f')
                c |= std::uint32_t(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                c |= std::uint32_t(h - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    bool string(std::string& out)
    {
        ++p; // the opening quote
        for (;;) {
            const char* from = p;
            while (p != end && *p != '"' && *p != '\\') {
                if (static_cast<unsigned char>(*p) < 0x80)
                    ++p;
                else if (!utf8(p))
                    return false;
            }
            out.append(from, std::size_t(p - from));
            if (p == end)
                return false;
            if (*p++ == '"')
                return true;
            if (p == end)
                return false;
            switch (*p++) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                std::uint32_t c = 0;
                if (!hex4(c))
                    return false;
                if (c >= 0xd800 && c < 0xdc00 && end - p >= 6 && p[0] == '\\' && p[1] == 'u') {
                    const char* back = p;
                    p += 2;
                    std::uint32_t low = 0;
                    if (hex4(low) && low >= 0xdc00 && low < 0xe000)
                        c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
                    else
                        p = back;
                }
                if (c >= 0xd800 && c < 0xe000)
                    c = 0xfffd; // a lone half of a pair
                appendUtf8(out, c);
                break;
            }
            default:
                // Taken as the character itself, as Qt's reader does.
                out += p[-1];
                break;
            }
        }
    }

    // One well-formed UTF-8 sequence at p, stepped over.
    bool utf8(const char*& at)
    {
        const auto* u = reinterpret_cast<const unsigned char*>(at);
        const std::size_t left = std::size_t(end - at);
        std::size_t n = 0;
        std::uint32_t c = 0;
        std::uint32_t min = 0;
        if ((u[0] & 0xe0) == 0xc0) {
            n = 2, c = u[0] & 0x1fu, min = 0x80;
        } else if ((u[0] & 0xf0) == 0xe0) {
            n = 3, c = u[0] & 0x0fu, min = 0x800;
        } else if ((u[0] & 0xf8) == 0xf0) {
            n = 4, c = u[0] & 0x07u, min = 0x10000;
        } else {
            return false;
        }
        if (left < n)
            return false;
        for (std::size_t i = 1; i < n; ++i) {
            if ((u[i] & 0xc0) != 0x80)
                return false;
            c = (c << 6) | (u[i] & 0x3fu);
        }
        if (c < min || c > 0x10ffff || (c >= 0xd800 && c < 0xe000))
            return false;
        at += n;
        return true;
    }

    bool number(Json& v)
    {
        const char* from = p;
        if (p != end && *p == '-')
            ++p;
        if (p == end || *p < '0' || *p > '9')
            return false;
        if (*p == '0')
            ++p;
        else
            while (p != end && *p >= '0' && *p <= '9')
                ++p;
        bool whole = true;
        if (p != end && *p == '.') {
            whole = false;
            ++p;
            if (p == end || *p < '0' || *p > '9')
                return false;
            while (p != end && *p >= '0' && *p <= '9')
                ++p;
        }
        if (p != end && (*p == 'e' || *p == 'E')) {
            whole = false;
            ++p;
            if (p != end && (*p == '+' || *p == '-'))
                ++p;
            if (p == end || *p < '0' || *p > '9')
                return false;
            while (p != end && *p >= '0' && *p <= '9')
                ++p;
        }
        if (whole) {
            std::int64_t i = 0;
            const auto r = std::from_chars(from, p, i);
            if (r.ec == std::errc() && r.ptr == p) {
                v.m_type = Json::Type::Integer;
                v.m_integer = i;
                return true;
            }
        }
        double d = 0;
        const auto r = std::from_chars(from, p, d);
        if (r.ptr != p || (r.ec != std::errc() && r.ec != std::errc::result_out_of_range))
            return false;
        if (r.ec == std::errc::result_out_of_range)
            d = 0;
        v.m_type = Json::Type::Double;
        v.m_double = d;
        return true;
    }
};

Json Json::parse(std::string_view text)
{
    Json v;
    JsonParser parser(text);
    if (!parser.document(v))
        return {};
    return v;
}

const Json& Json::operator[](std::string_view key) const
{
    for (auto it = m_members.rbegin(); it != m_members.rend(); ++it)
        if (it->first == key)
            return it->second;
    return undefinedValue();
}

bool Json::contains(std::string_view key) const
{
    for (const auto& m : m_members)
        if (m.first == key)
            return true;
    return false;
}

const Json& Json::at(std::size_t i) const
{
    return m_type == Type::Array && i < m_elements.size() ? m_elements[i] : undefinedValue();
}

int Json::toInt(int fallback) const
{
    const std::int64_t v = toInteger(std::int64_t(std::numeric_limits<int>::min()) - 1);
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return fallback;
    return int(v);
}

std::int64_t Json::toInteger(std::int64_t fallback) const
{
    if (m_type == Type::Integer)
        return m_integer;
    if (m_type == Type::Double && std::isfinite(m_double) && m_double == std::trunc(m_double) &&
        m_double >= -9223372036854775808.0 && m_double < 9223372036854775808.0)
        return std::int64_t(m_double);
    return fallback;
}

std::string Json::text() const
{
    switch (m_type) {
    case Type::String:
        return m_text;
    case Type::Bool:
        return m_bool ? "true" : "false";
    case Type::Integer:
        return std::to_string(m_integer);
    case Type::Double: {
        char buf[64];
        const auto r = std::to_chars(buf, buf + sizeof buf, m_double);
        return std::string(buf, r.ptr);
    }
    default:
        return {};
    }
}

void appendJsonString(std::string& out, std::string_view text)
{
    static const char* const hex = "0123456789abcdef";
    out += '"';
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += ch;
            }
        }
    }
    out += '"';
}

} // namespace zul::history
