#pragma once

#include <QTest>
#include <tuple>

namespace zul::test {

// Adds a column a type, named in order, and gives back row(tag, values...) that adds a row.
template <typename... T, typename... Names> auto columns(Names... names)
{
    static_assert(sizeof...(T) == sizeof...(Names));
    (QTest::addColumn<T>(names), ...);
    return [](const char* tag, const T&... values) { (QTest::newRow(tag) << ... << values); };
}

// The current row's values of the named columns, as QFETCH would give them one at a time.
template <typename... T, typename... Names> std::tuple<T...> fetch(Names... names)
{
    static_assert(sizeof...(T) == sizeof...(Names));
    return {*static_cast<T*>(QTest::qData(names, ::qMetaTypeId<T>()))...};
}

} // namespace zul::test
