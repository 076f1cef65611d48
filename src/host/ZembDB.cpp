#include "host/ZembDB.h"

#include "host/HostDb.h"

#include <sqlite3.h>
#include <strings.h>

namespace zul::host {

namespace {

using hostdb::Statement;

constexpr int kUnspecified = static_cast<int>(0x80004005u);

[[noreturn]] void disconnected()
{
    throw com::ComError(ZembDB::kDisconnected, "The object invoked has disconnected from its clients.");
}

void checkTable(const std::string& table)
{
    if (table.find('\0') != std::string::npos || ::strcasecmp(table.c_str(), "FastZUL") != 0)
        throw com::ComError(3078, "The table '" + table + "' is not in the database.");
}

// The values are code-page bytes; Latin-1 keeps every byte as one character,
// so what is stored compares and comes back byte for byte.
std::string toDb(const std::string& s)
{
    std::string utf8;
    utf8.reserve(s.size());
    for (const unsigned char c : s) {
        if (c < 0x80) {
            utf8 += char(c);
        } else {
            utf8 += char(0xC0 | (c >> 6));
            utf8 += char(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

// A character beyond Latin-1 (a row written by something else) becomes "?".
std::string fromDb(const std::string& utf8)
{
    const auto continues = [&](std::size_t i) {
        return i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80;
    };
    std::string bytes;
    bytes.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i++]);
        if (c < 0x80) {
            bytes += char(c);
        } else if ((c == 0xC2 || c == 0xC3) && continues(i)) {
            bytes += char(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[i++]) & 0x3F));
        } else {
            bytes += '?';
            while (continues(i))
                ++i;
        }
    }
    return bytes;
}

// The filter of a search: an omitted or empty key matches any value.
struct Filter {
    std::string where;
    std::vector<std::string> values;
};

Filter keysFilter(const std::optional<std::string>& code, const std::string& first,
                  const std::optional<std::string>& second)
{
    Filter f;
    const auto add = [&](const char* column, const std::optional<std::string>& key) {
        if (!key || key->empty())
            return;
        f.where += (f.where.empty() ? " WHERE " : " AND ") + std::string(column) + " = ?";
        f.values.push_back(toDb(*key));
    };
    add("FACODE", code);
    add("FAFLDONE", first);
    add("FAFLDTWO", second);
    return f;
}

} // namespace

std::shared_ptr<ZembDB> ZembDB::open(const std::string& dataFolder, std::string* error)
{
    sqlite3* db = hostdb::open(dataFolder,
                               "CREATE TABLE IF NOT EXISTS FastZUL (FACODE TEXT NOT NULL, FAFLDONE TEXT NOT NULL, "
                               "FAFLDTWO TEXT NOT NULL)",
                               "has no usable FastZUL table", error);
    if (!db)
        return {};
    return std::shared_ptr<ZembDB>(new ZembDB(db));
}

ZembDB::~ZembDB()
{
    sqlite3_close(m_db);
}

void ZembDB::closeConnection()
{
    sqlite3_close(m_db);
    m_db = nullptr;
}

namespace {

// Runs sql with values bound in order; each row goes to onRow.
template <typename OnRow>
void run(sqlite3* db, const std::string& sql, const std::vector<std::string>& values, OnRow onRow)
{
    if (!db)
        disconnected();
    Statement q(db, sql.c_str());
    if (!q.ok())
        throw com::ComError(kUnspecified, hostdb::lastError(db));
    for (std::size_t i = 0; i < values.size(); ++i)
        q.bind(int(i) + 1, values[i]);
    int rc = q.step();
    for (; rc == SQLITE_ROW; rc = q.step())
        onRow(q);
    if (rc != SQLITE_DONE)
        throw com::ComError(kUnspecified, hostdb::lastError(db));
}

void run(sqlite3* db, const std::string& sql, const std::vector<std::string>& values = {})
{
    run(db, sql, values, [](const Statement&) {});
}

} // namespace

std::int32_t ZembDB::RecordCount(const std::string& table)
{
    checkTable(table);
    std::int32_t count = 0;
    run(m_db, "SELECT COUNT(*) FROM FastZUL", {}, [&](const Statement& q) { count = q.number(0); });
    return count;
}

bool ZembDB::readFirst(const std::string& sql, const std::vector<std::string>& values)
{
    bool found = false;
    run(m_db, sql, values, [&](const Statement& q) {
        found = true;
        m_code = fromDb(q.text(0));
        m_one = fromDb(q.text(1));
        m_two = fromDb(q.text(2));
    });
    return found;
}

void ZembDB::GetRecord(const std::string& table, std::int16_t& index)
{
    checkTable(table);
    if (index < 0)
        throw com::ComError(3021, "No current record.");
    // In the order the records were added.
    if (!readFirst("SELECT FACODE, FAFLDONE, FAFLDTWO FROM FastZUL ORDER BY rowid LIMIT 1 OFFSET " +
                   std::to_string(index)))
        throw com::ComError(3021, "No current record.");
}

bool ZembDB::SeekByAllPKeys(const std::string& table, const std::optional<std::string>& code, const std::string& first,
                            const std::optional<std::string>& second)
{
    checkTable(table);
    const Filter f = keysFilter(code, first, second);
    return readFirst("SELECT FACODE, FAFLDONE, FAFLDTWO FROM FastZUL" + f.where + " ORDER BY rowid LIMIT 1", f.values);
}

void ZembDB::AddRecord(const std::string& table)
{
    checkTable(table);
    run(m_db, "INSERT INTO FastZUL (FACODE, FAFLDONE, FAFLDTWO) VALUES (?, ?, ?)",
        {toDb(m_code), toDb(m_one), toDb(m_two)});
}

void ZembDB::ResetVar()
{
    m_code.clear();
    m_one.clear();
    m_two.clear();
}

void ZembDB::DeleteRecBySearch(const std::string& table, const std::string& code, const std::string& first,
                               const std::optional<std::string>& second)
{
    checkTable(table);
    const Filter f = keysFilter(code, first, second);
    run(m_db, "DELETE FROM FastZUL" + f.where, f.values);
}

} // namespace zul::host
