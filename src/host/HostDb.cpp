#include "host/HostDb.h"

#include <QDir>
#include <QFile>
#include <sqlite3.h>

namespace zul::host::hostdb {

namespace {

// How long a connection waits for another one's lock: the events, the Fast
// Path and any number of hosts share the file.
constexpr int kBusyWaitMs = 5000;

} // namespace

QString path(const QString& dataFolder)
{
    return QDir(dataFolder).filePath(QStringLiteral("host.db"));
}

sqlite3* open(const QString& dataFolder, const char* schema, const char* unusable, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return nullptr;
    };
    if (!QDir().mkpath(dataFolder))
        return fail(QStringLiteral("cannot create the data folder '%1'").arg(dataFolder));
    const QString path = hostdb::path(dataFolder);
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (!QFile::exists(path)) {
        QFile create(path);
        if (!create.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly) && !QFile::exists(path))
            return fail(QStringLiteral("cannot create '%1': %2").arg(path, create.errorString()));
    }
    QFile::setPermissions(path, ownerOnly); // SQLite gives its journal the same
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        const QString why = QStringLiteral("cannot open '%1': %2").arg(path, lastError(db));
        sqlite3_close(db);
        return fail(why);
    }
    sqlite3_busy_timeout(db, kBusyWaitMs);
    if (sqlite3_exec(db, schema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        const QString why = QStringLiteral("'%1' %2: %3").arg(path, QLatin1String(unusable), lastError(db));
        sqlite3_close(db);
        return fail(why);
    }
    return db;
}

QString lastError(sqlite3* db)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("the database is not open");
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

void Statement::bind(int at, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(m_stmt, at, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void Statement::bind(int at, int number)
{
    sqlite3_bind_int(m_stmt, at, number);
}

int Statement::step()
{
    return sqlite3_step(m_stmt);
}

QString Statement::text(int column) const
{
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return QString::fromUtf8(bytes ? bytes : "", sqlite3_column_bytes(m_stmt, column));
}

int Statement::number(int column) const
{
    return sqlite3_column_int(m_stmt, column);
}

} // namespace zul::host::hostdb
