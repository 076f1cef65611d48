#include "host/HostDb.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sqlite3.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace zul::host {

std::string inFolder(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

} // namespace zul::host

namespace zul::host::hostdb {

namespace {

// How long a connection waits for another one's lock: the events, the Fast
// Path and any number of hosts share the file.
constexpr int kBusyWaitMs = 5000;

} // namespace

std::string path(const std::string& dataFolder)
{
    return inFolder(dataFolder, "host.db");
}

sqlite3* open(const std::string& dataFolder, const char* schema, const char* unusable, std::string* error)
{
    const auto fail = [error](const std::string& why) {
        if (error)
            *error = why;
        return nullptr;
    };
    std::error_code ec;
    std::filesystem::create_directories(dataFolder, ec);
    if (ec || !std::filesystem::is_directory(dataFolder, ec))
        return fail("cannot create the data folder '" + dataFolder + "'");
    const std::string path = hostdb::path(dataFolder);
    // Never through a link: one could make SQLite create the file elsewhere,
    // with its own mode for new files, readable by all.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail("cannot open or create '" + path + "': " +
                    (errno == ELOOP ? std::string("it is a symbolic link") : std::string(std::strerror(errno))));
    struct stat st {};
    const bool normal = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool ownerOnly = normal && ::fchmod(fd, 0600) == 0; // SQLite gives its journal the same
    const int chmodError = errno;
    ::close(fd);
    if (!normal)
        return fail("cannot open '" + path + "': it is not a normal file");
    if (!ownerOnly)
        return fail("cannot make '" + path + "' the owner's alone: " + std::strerror(chmodError));
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK) {
        const std::string why = "cannot open '" + path + "': " + lastError(db);
        sqlite3_close(db);
        return fail(why);
    }
    sqlite3_busy_timeout(db, kBusyWaitMs);
    if (sqlite3_exec(db, schema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        const std::string why = "'" + path + "' " + unusable + ": " + lastError(db);
        sqlite3_close(db);
        return fail(why);
    }
    return db;
}

std::string lastError(sqlite3* db)
{
    return db ? std::string(sqlite3_errmsg(db)) : std::string("the database is not open");
}

Statement::Statement(sqlite3* db, const char* sql)
{
    if (db)
        sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

void Statement::bind(int at, const std::string& text)
{
    sqlite3_bind_text(m_stmt, at, text.data(), int(text.size()), SQLITE_TRANSIENT);
}

void Statement::bind(int at, int number)
{
    sqlite3_bind_int(m_stmt, at, number);
}

int Statement::step()
{
    return sqlite3_step(m_stmt);
}

std::string Statement::text(int column) const
{
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return bytes ? std::string(bytes, std::size_t(sqlite3_column_bytes(m_stmt, column))) : std::string();
}

int Statement::number(int column) const
{
    return sqlite3_column_int(m_stmt, column);
}

} // namespace zul::host::hostdb
