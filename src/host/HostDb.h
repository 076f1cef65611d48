#pragma once

#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace zul::host {
// folder's file name: the two joined with one slash.
std::string inFolder(const std::string& folder, const std::string& name);
} // namespace zul::host

namespace zul::host::hostdb {

// dataFolder's host.db.
std::string path(const std::string& dataFolder);

// Opens (creating when needed) host.db in dataFolder, owner-only from its
// first byte: it holds the Fast Path's passwords, and makes sure of a table
// with schema (a CREATE TABLE IF NOT EXISTS). Null and why when it cannot;
// unusable says what a file without the table is ("is not a usable ...").
sqlite3* open(const std::string& dataFolder, const char* schema, const char* unusable, std::string* error);

// What SQLite last said on db.
std::string lastError(sqlite3* db);

// One prepared statement, finalized when it goes. Text goes in and comes out
// as UTF-8.
class Statement {
public:
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_stmt != nullptr; }
    void bind(int at, const std::string& text);
    void bind(int at, int number);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    std::string text(int column) const;
    int number(int column) const;

private:
    sqlite3_stmt* m_stmt = nullptr;
};

} // namespace zul::host::hostdb
