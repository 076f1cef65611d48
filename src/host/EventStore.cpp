#include "host/EventStore.h"

#include "host/CodePage.h"
#include "host/EventStruct.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace zul::host {

com::EventStructPtr toEventStruct(const EventRecord& r)
{
    auto e = std::make_shared<EventStruct>();
    e->SetField("BAEvent", toCodePage(r.id));
    e->SetField("BAEntName", toCodePage(r.entity));
    e->SetField("BAEvTYPE", toCodePage(r.type));
    e->SetField("BARUNDAY", static_cast<std::int16_t>(r.runDay));
    e->SetField("BAFLAG1", toCodePage(r.flag1));
    e->SetField("BAFLAG2", toCodePage(r.flag2));
    e->SetField("BAFLAG4", toCodePage(r.flag4));
    return e;
}

EventRecord fromEventStruct(const com::IEventStruct& e)
{
    EventRecord r;
    r.id = fromCodePage(e.text("BAEvent")).trimmed();
    r.entity = fromCodePage(e.text("BAEntName"));
    r.type = fromCodePage(e.text("BAEvTYPE"));
    r.runDay = e.Field("BARUNDAY").toInt16().value_or(0);
    r.flag1 = fromCodePage(e.text("BAFLAG1"));
    r.flag2 = fromCodePage(e.text("BAFLAG2"));
    r.flag4 = fromCodePage(e.text("BAFLAG4"));
    return r;
}

EventStore::~EventStore()
{
    if (!m_connection.isEmpty()) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool EventStore::open(const QString& dataFolder)
{
    if (!QDir().mkpath(dataFolder)) {
        m_error = QStringLiteral("cannot create the data folder '%1'").arg(dataFolder);
        return false;
    }
    // host.db also holds the Fast Path passwords: the owner's alone from its first byte.
    const QString path = QDir(dataFolder).filePath(QStringLiteral("host.db"));
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (!QFile::exists(path)) {
        QFile create(path);
        if (!create.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly) && !QFile::exists(path)) {
            m_error = QStringLiteral("cannot create '%1': %2").arg(path, create.errorString());
            return false;
        }
    }
    QFile::setPermissions(path, ownerOnly);
    m_connection = QStringLiteral("events-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(path);
    if (!db.open()) {
        m_error = db.lastError().text();
        return false;
    }
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS events (id TEXT PRIMARY KEY, entity TEXT NOT NULL, "
                               "type TEXT NOT NULL, runday INTEGER NOT NULL, flag1 TEXT NOT NULL, "
                               "flag2 TEXT NOT NULL, flag4 TEXT NOT NULL)"))) {
        m_error = QStringLiteral("'%1' is not a usable events database: %2")
                      .arg(db.databaseName(), q.lastError().text());
        return false;
    }
    return true;
}

namespace {
EventRecord readRecord(const QSqlQuery& q)
{
    return EventRecord{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toInt(),
                       q.value(4).toString(), q.value(5).toString(), q.value(6).toString()};
}
} // namespace

std::vector<EventRecord> EventStore::list() const
{
    std::vector<EventRecord> out;
    QSqlQuery q(QSqlDatabase::database(m_connection));
    if (!q.exec(QStringLiteral("SELECT id, entity, type, runday, flag1, flag2, flag4 FROM events ORDER BY id"))) {
        m_error = q.lastError().text();
        return out;
    }
    while (q.next())
        out.push_back(readRecord(q));
    return out;
}

std::optional<EventRecord> EventStore::find(const QString& id) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    q.prepare(QStringLiteral("SELECT id, entity, type, runday, flag1, flag2, flag4 FROM events WHERE id = ?"));
    q.addBindValue(id);
    if (!q.exec()) {
        m_error = q.lastError().text();
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    return readRecord(q);
}

bool EventStore::put(const EventRecord& r)
{
    // Ids name the event's script files in the 8-bit code page: two ids that
    // came out the same there would share one script.
    if (fromCodePage(toCodePage(r.id)) != r.id) {
        m_error = QStringLiteral("the event id '%1' has characters the 8-bit code page (Windows-1252) cannot hold")
                      .arg(r.id);
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection));
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO events (id, entity, type, runday, flag1, flag2, flag4) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?)"));
    // A null QString binds as NULL; the columns hold empty texts instead.
    const auto text = [](const QString& s) { return QVariant(s.isNull() ? QString(QLatin1String("")) : s); };
    for (const QVariant& v : {text(r.id), text(r.entity), text(r.type), QVariant(r.runDay), text(r.flag1),
                              text(r.flag2), text(r.flag4)})
        q.addBindValue(v);
    if (!q.exec()) {
        m_error = q.lastError().text();
        return false;
    }
    return true;
}

bool EventStore::remove(const QString& id)
{
    QSqlQuery q(QSqlDatabase::database(m_connection));
    q.prepare(QStringLiteral("DELETE FROM events WHERE id = ?"));
    q.addBindValue(id);
    if (!q.exec()) {
        m_error = q.lastError().text();
        return false;
    }
    return q.numRowsAffected() > 0;
}

QString EventStore::allocateId() const
{
    int highest = 0;
    for (const auto& r : list()) {
        bool ok = false;
        if (r.id.size() == 5 && r.id.startsWith(QLatin1Char('E'))) {
            const int n = r.id.mid(1).toInt(&ok);
            if (ok && n > highest)
                highest = n;
        }
    }
    return QStringLiteral("E%1").arg(highest + 1, 4, 10, QLatin1Char('0'));
}

} // namespace zul::host
