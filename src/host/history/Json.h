#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zul::history {

// A small reader for the one-line JSON records of our own logs, with the
// conversions the history needs: a field of the wrong type reads as empty or
// zero, as a missing one does.
class Json {
public:
    enum class Type { Undefined, Null, Bool, Integer, Double, String, Array, Object };

    // The object or array that is the whole text; Undefined when the text is
    // not one (bad syntax, anything after it but blanks).
    static Json parse(std::string_view text);

    Type type() const { return m_type; }
    bool isNumber() const { return m_type == Type::Integer || m_type == Type::Double; }
    bool isObject() const { return m_type == Type::Object; }
    bool isEmptyObject() const { return m_type != Type::Object || m_members.empty(); }

    // The member of that name (the last one, should it be given twice).
    const Json& operator[](std::string_view key) const;
    bool contains(std::string_view key) const;
    // The element at i of an array.
    const Json& at(std::size_t i) const;
    std::size_t size() const { return m_type == Type::Array ? m_elements.size() : 0; }

    std::string string() const { return m_type == Type::String ? m_text : std::string(); }
    // A whole number that fits, else the default.
    int toInt(int fallback = 0) const;
    std::int64_t toInteger(std::int64_t fallback = 0) const;
    // Any plain value as text: "true", "12", "1.5", the string itself.
    std::string text() const;

private:
    friend class JsonParser;
    Type m_type = Type::Undefined;
    bool m_bool = false;
    std::int64_t m_integer = 0;
    double m_double = 0;
    std::string m_text;
    std::vector<Json> m_elements;
    std::vector<std::pair<std::string, Json>> m_members;
};

// Appends text as a JSON string, quotes included.
void appendJsonString(std::string& out, std::string_view text);

} // namespace zul::history
