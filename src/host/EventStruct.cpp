#include "host/EventStruct.h"

#include <strings.h>

namespace zul::host {

EventStruct::EventStruct()
{
    for (std::size_t i = 0; i < kFields.size(); ++i)
        m_values[i] = std::string();
    m_values[3] = std::int16_t{0};
}

int EventStruct::indexOf(const std::string& name)
{
    // Member names are matched without regard to case, as late binding does.
    for (std::size_t i = 0; i < kFields.size(); ++i)
        if (::strcasecmp(kFields[i], name.c_str()) == 0)
            return static_cast<int>(i);
    throw com::ComError(438, "Object doesn't support this property or method: " + name);
}

com::Variant EventStruct::Field(const std::string& name) const
{
    return m_values[static_cast<std::size_t>(indexOf(name))];
}

void EventStruct::SetField(const std::string& name, com::Variant value)
{
    m_values[static_cast<std::size_t>(indexOf(name))] = std::move(value);
}

} // namespace zul::host
