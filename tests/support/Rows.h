#pragma once

#include <QTest>
#include <tuple>
#include <utility>

namespace zul::test {

namespace rows {
// Columns go by their place; the test names them where it takes the row apart.
inline constexpr const char* kColumn[] = {"c0", "c1", "c2", "c3", "c4", "c5", "c6", "c7", "c8", "c9"};

template <typename... T, std::size_t... I> std::tuple<T...> fetchAt(std::index_sequence<I...>)
{
    return {*static_cast<T*>(QTest::qData(kColumn[I], ::qMetaTypeId<T>()))...};
}
} // namespace rows

// Adds a column a type and gives back row(tag, values...) that adds a row.
template <typename... T> auto columns()
{
    static_assert(sizeof...(T) <= std::size(rows::kColumn));
    int i = 0;
    (QTest::addColumn<T>(rows::kColumn[i++]), ...);
    return [](const char* tag, const T&... values) { (QTest::newRow(tag) << ... << values); };
}

// The current row's values, in the order of the columns: const auto [a, b] = fetch<A, B>();
template <typename... T> std::tuple<T...> fetch()
{
    return rows::fetchAt<T...>(std::index_sequence_for<T...>{});
}

} // namespace zul::test
