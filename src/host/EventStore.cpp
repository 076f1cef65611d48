#include "host/EventStore.h"

#include "host/CodePage.h"
#include "host/EventStruct.h"
#include "host/HostDb.h"

#include <sqlite3.h>

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

namespace {

using hostdb::Statement;

EventRecord readRecord(const Statement& q)
{
    return EventRecord{q.text(0), q.text(1), q.text(2), q.number(3), q.text(4), q.text(5), q.text(6)};
}

} // namespace

EventStore::~EventStore()
{
    sqlite3_close(m_db);
}

void EventStore::failed() const
{
    m_error = m_db ? hostdb::lastError(m_db) : QStringLiteral("the events database is not open");
}

bool EventStore::open(const QString& dataFolder)
{
    sqlite3_close(m_db);
    m_db = hostdb::open(dataFolder,
                        "CREATE TABLE IF NOT EXISTS events (id TEXT PRIMARY KEY, entity TEXT NOT NULL, "
                        "type TEXT NOT NULL, runday INTEGER NOT NULL, flag1 TEXT NOT NULL, "
                        "flag2 TEXT NOT NULL, flag4 TEXT NOT NULL)",
                        "is not a usable events database", &m_error);
    return m_db != nullptr;
}

std::vector<EventRecord> EventStore::list() const
{
    std::vector<EventRecord> out;
    Statement q(m_db, "SELECT id, entity, type, runday, flag1, flag2, flag4 FROM events ORDER BY id");
    int rc = q.ok() ? q.step() : SQLITE_ERROR;
    for (; rc == SQLITE_ROW; rc = q.step())
        out.push_back(readRecord(q));
    if (rc != SQLITE_DONE)
        failed();
    return out;
}

std::optional<EventRecord> EventStore::find(const QString& id) const
{
    Statement q(m_db, "SELECT id, entity, type, runday, flag1, flag2, flag4 FROM events WHERE id = ?");
    if (!q.ok()) {
        failed();
        return std::nullopt;
    }
    q.bind(1, id);
    const int rc = q.step();
    if (rc == SQLITE_ROW)
        return readRecord(q);
    if (rc != SQLITE_DONE)
        failed();
    return std::nullopt;
}

bool EventStore::put(const EventRecord& r)
{
    // Ids name the event's script files in the 8-bit code page: two ids that
    // came out the same there would share one script.
    if (fromCodePage(toCodePage(r.id)) != r.id) {
        m_error =
            QStringLiteral("the event id '%1' has characters the 8-bit code page (Windows-1252) cannot hold").arg(r.id);
        return false;
    }
    Statement q(m_db, "INSERT OR REPLACE INTO events (id, entity, type, runday, flag1, flag2, flag4) "
                      "VALUES (?, ?, ?, ?, ?, ?, ?)");
    if (!q.ok()) {
        failed();
        return false;
    }
    // A null QString binds as an empty text: the columns hold no NULL.
    q.bind(1, r.id);
    q.bind(2, r.entity);
    q.bind(3, r.type);
    q.bind(4, r.runDay);
    q.bind(5, r.flag1);
    q.bind(6, r.flag2);
    q.bind(7, r.flag4);
    if (q.step() != SQLITE_DONE) {
        failed();
        return false;
    }
    return true;
}

bool EventStore::remove(const QString& id)
{
    Statement q(m_db, "DELETE FROM events WHERE id = ?");
    if (!q.ok()) {
        failed();
        return false;
    }
    q.bind(1, id);
    if (q.step() != SQLITE_DONE) {
        failed();
        return false;
    }
    return sqlite3_changes(m_db) > 0;
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
