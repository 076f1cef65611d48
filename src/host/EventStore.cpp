#include "host/EventStore.h"

#include "host/EventStruct.h"
#include "host/HostDb.h"
#include "platform/CodePage.h"

#include <cstdio>
#include <sqlite3.h>

namespace zul::host {

namespace {
// An id field may come padded with blanks.
std::string trimmed(const std::string& s)
{
    const char* blanks = " \t\n\v\f\r";
    const auto from = s.find_first_not_of(blanks);
    return from == std::string::npos ? std::string() : s.substr(from, s.find_last_not_of(blanks) - from + 1);
}
} // namespace

com::EventStructPtr toEventStruct(const EventRecord& r)
{
    auto e = std::make_shared<EventStruct>();
    e->SetField("BAEvent", platform::codePageFromUtf8(r.id));
    e->SetField("BAEntName", platform::codePageFromUtf8(r.entity));
    e->SetField("BAEvTYPE", platform::codePageFromUtf8(r.type));
    e->SetField("BARUNDAY", static_cast<std::int16_t>(r.runDay));
    e->SetField("BAFLAG1", platform::codePageFromUtf8(r.flag1));
    e->SetField("BAFLAG2", platform::codePageFromUtf8(r.flag2));
    e->SetField("BAFLAG4", platform::codePageFromUtf8(r.flag4));
    return e;
}

EventRecord fromEventStruct(const com::IEventStruct& e)
{
    EventRecord r;
    r.id = trimmed(platform::utf8FromCodePage(e.text("BAEvent")));
    r.entity = platform::utf8FromCodePage(e.text("BAEntName"));
    r.type = platform::utf8FromCodePage(e.text("BAEvTYPE"));
    r.runDay = e.Field("BARUNDAY").toInt16().value_or(0);
    r.flag1 = platform::utf8FromCodePage(e.text("BAFLAG1"));
    r.flag2 = platform::utf8FromCodePage(e.text("BAFLAG2"));
    r.flag4 = platform::utf8FromCodePage(e.text("BAFLAG4"));
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
    m_error = m_db ? hostdb::lastError(m_db) : std::string("the events database is not open");
}

bool EventStore::open(const std::string& dataFolder)
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

std::optional<EventRecord> EventStore::find(const std::string& id) const
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
    if (platform::utf8FromCodePage(platform::codePageFromUtf8(r.id)) != r.id) {
        m_error = "the event id '" + r.id + "' has characters the 8-bit code page (Windows-1252) cannot hold";
        return false;
    }
    Statement q(m_db, "INSERT OR REPLACE INTO events (id, entity, type, runday, flag1, flag2, flag4) "
                      "VALUES (?, ?, ?, ?, ?, ?, ?)");
    if (!q.ok()) {
        failed();
        return false;
    }
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

bool EventStore::remove(const std::string& id)
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

std::string EventStore::allocateId() const
{
    int highest = 0;
    for (const auto& r : list()) {
        if (r.id.size() != 5 || r.id[0] != 'E')
            continue;
        int n = 0;
        bool digits = true;
        for (std::size_t k = 1; k < r.id.size(); ++k) {
            digits = digits && r.id[k] >= '0' && r.id[k] <= '9';
            n = n * 10 + (r.id[k] - '0');
        }
        if (digits && n > highest)
            highest = n;
    }
    char id[16];
    std::snprintf(id, sizeof id, "E%04d", highest + 1);
    return id;
}

} // namespace zul::host
