#pragma once

#include "com/Export.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace zul::com {

// A value as the host's components exchange it. The kind is part of the value:
// a 16-bit 3281 and a 32-bit 3281 are different arguments.
class ZUL_COM_EXPORT Variant {
public:
    enum class Kind { Empty, Boolean, Int16, Int32, Text };

    Variant() = default;
    Variant(bool b) : m_v(b) {}
    Variant(std::int16_t i) : m_v(i) {}
    Variant(std::int32_t i) : m_v(i) {}
    Variant(std::string s) : m_v(std::move(s)) {}
    Variant(const char* s) : m_v(std::string(s)) {}
    Variant(std::string_view s) : m_v(std::string(s)) {}

    Kind kind() const { return static_cast<Kind>(m_v.index()); }
    bool isEmpty() const { return kind() == Kind::Empty; }
    bool isNumber() const { return kind() == Kind::Int16 || kind() == Kind::Int32; }

    bool asBool() const { return std::get<bool>(m_v); }
    std::int16_t asInt16() const { return std::get<std::int16_t>(m_v); }
    std::int32_t asInt32() const { return std::get<std::int32_t>(m_v); }
    const std::string& asText() const { return std::get<std::string>(m_v); }

    // The value as text, the way the classic runtime converts it: Booleans as
    // "True"/"False", numbers in decimal, Empty as "".
    std::string toText() const;

    // Conversion to a 16-bit integer: numbers in range, Booleans (-1/0) and
    // texts that hold a number (blanks allowed around it, rounded half to
    // even). Nothing when the value does not fit or is not a number.
    std::optional<std::int16_t> toInt16() const;

    static const char* kindName(Kind k);

    friend bool operator==(const Variant& a, const Variant& b) { return a.m_v == b.m_v; }

private:
    std::variant<std::monostate, bool, std::int16_t, std::int32_t, std::string> m_v;
};

} // namespace zul::com
