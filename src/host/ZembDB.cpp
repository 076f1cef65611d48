#include "host/ZembDB.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace zul::host {

namespace {

constexpr int kUnspecified = static_cast<int>(0x80004005u);

[[noreturn]] void disconnected()
{
    throw com::ComError(ZembDB::kDisconnected, "The object invoked has disconnected from its clients.");
}

void checkTable(const std::string& table)
{
    if (QString::fromLatin1(table.data(), static_cast<qsizetype>(table.size()))
            .compare(QLatin1String("FastZUL"), Qt::CaseInsensitive) != 0)
        throw com::ComError(3078, "The table '" + table + "' is not in the database.");
}

// The values are code-page bytes; Latin-1 keeps every byte as one character,
// so what is stored compares and comes back byte for byte.
QString toDb(const std::string& s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

std::string fromDb(const QVariant& v)
{
    return v.toString().toLatin1().toStdString();
}

// The filter of a search: an omitted or empty key matches any value.
struct Filter {
    QString where;
    QVariantList values;
};

Filter keysFilter(const std::optional<std::string>& code, const std::string& first,
                  const std::optional<std::string>& second)
{
    Filter f;
    QStringList terms;
    const auto add = [&](const char* column, const std::optional<std::string>& key) {
        if (!key || key->empty())
            return;
        terms << QLatin1String(column) + QLatin1String(" = ?");
        f.values << toDb(*key);
    };
    add("FACODE", code);
    add("FAFLDONE", first);
    add("FAFLDTWO", second);
    if (!terms.isEmpty())
        f.where = QLatin1String(" WHERE ") + terms.join(QLatin1String(" AND "));
    return f;
}

} // namespace

std::shared_ptr<ZembDB> ZembDB::open(const QString& dataFolder, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return std::shared_ptr<ZembDB>();
    };
    if (!QDir().mkpath(dataFolder))
        return fail(QStringLiteral("cannot create the data folder '%1'").arg(dataFolder));

    // The table holds passwords: the file is its owner's alone, and SQLite
    // gives its journal the same permissions.
    const QString path = QDir(dataFolder).filePath(QStringLiteral("host.db"));
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (!QFile::exists(path)) {
        QFile create(path);
        if (!create.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly) && !QFile::exists(path))
            return fail(QStringLiteral("cannot create '%1': %2").arg(path, create.errorString()));
    }
    QFile::setPermissions(path, ownerOnly);

    const QString name = QStringLiteral("fastzul-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    std::shared_ptr<ZembDB> db(new ZembDB(name));
    auto conn = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    conn.setDatabaseName(path);
    conn.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!conn.open())
        return fail(conn.lastError().text());
    QSqlQuery q(conn);
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS FastZUL (FACODE TEXT NOT NULL, FAFLDONE TEXT NOT NULL, "
                               "FAFLDTWO TEXT NOT NULL)")))
        return fail(QStringLiteral("'%1' has no usable FastZUL table: %2").arg(path, q.lastError().text()));
    return db;
}

ZembDB::~ZembDB()
{
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

namespace {

QSqlQuery run(const QString& connection, const QString& sql, const QVariantList& values = {})
{
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    if (!db.isValid() || !db.isOpen())
        disconnected();
    QSqlQuery q(db);
    if (!q.prepare(sql)) {
        if (q.lastError().type() == QSqlError::ConnectionError)
            disconnected();
        throw com::ComError(kUnspecified, q.lastError().text().toStdString());
    }
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        if (q.lastError().type() == QSqlError::ConnectionError)
            disconnected();
        throw com::ComError(kUnspecified, q.lastError().text().toStdString());
    }
    return q;
}

} // namespace

std::int32_t ZembDB::RecordCount(const std::string& table)
{
    checkTable(table);
    QSqlQuery q = run(m_connection, QStringLiteral("SELECT COUNT(*) FROM FastZUL"));
    return q.next() ? q.value(0).toInt() : 0;
}

void ZembDB::GetRecord(const std::string& table, std::int16_t& index)
{
    checkTable(table);
    if (index < 0)
        throw com::ComError(3021, "No current record.");
    // In the order the records were added.
    QSqlQuery q = run(m_connection,
                      QStringLiteral("SELECT FACODE, FAFLDONE, FAFLDTWO FROM FastZUL ORDER BY rowid LIMIT 1 OFFSET ?"),
                      {QVariant(static_cast<int>(index))});
    if (!q.next())
        throw com::ComError(3021, "No current record.");
    m_code = fromDb(q.value(0));
    m_one = fromDb(q.value(1));
    m_two = fromDb(q.value(2));
}

bool ZembDB::SeekByAllPKeys(const std::string& table, const std::optional<std::string>& code, const std::string& first,
                            const std::optional<std::string>& second)
{
    checkTable(table);
    const Filter f = keysFilter(code, first, second);
    QSqlQuery q = run(m_connection,
                      QStringLiteral("SELECT FACODE, FAFLDONE, FAFLDTWO FROM FastZUL") + f.where +
                          QStringLiteral(" ORDER BY rowid LIMIT 1"),
                      f.values);
    if (!q.next())
        return false;
    m_code = fromDb(q.value(0));
    m_one = fromDb(q.value(1));
    m_two = fromDb(q.value(2));
    return true;
}

void ZembDB::AddRecord(const std::string& table)
{
    checkTable(table);
    run(m_connection, QStringLiteral("INSERT INTO FastZUL (FACODE, FAFLDONE, FAFLDTWO) VALUES (?, ?, ?)"),
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
    run(m_connection, QStringLiteral("DELETE FROM FastZUL") + f.where, f.values);
}

} // namespace zul::host
