#pragma once

#include "com/HostComponents.h"

#include <QString>
#include <optional>
#include <vector>

struct sqlite3;

namespace zul::host {

struct EventRecord {
    QString id;
    QString entity;
    QString type = QStringLiteral("ZUL");
    int runDay = 0;
    QString flag1 = QStringLiteral("0");
    QString flag2 = QStringLiteral("0");
    QString flag4 = QStringLiteral("0");
};

// Copies a record into an event structure and back.
com::EventStructPtr toEventStruct(const EventRecord& record);
EventRecord fromEventStruct(const com::IEventStruct& event);

// The host's schedule: event records in SQLite (host.db in the data folder),
// through SQLite itself: every run reads one record, and Qt's driver layer
// would cost a run a plug-in search and another library.
class EventStore {
public:
    EventStore() = default;
    ~EventStore();
    EventStore(const EventStore&) = delete;
    EventStore& operator=(const EventStore&) = delete;

    // Opens or creates the database; false with lastError() on failure.
    bool open(const QString& dataFolder);
    QString lastError() const { return m_error; }

    std::vector<EventRecord> list() const;
    std::optional<EventRecord> find(const QString& id) const;
    bool put(const EventRecord& record);
    bool remove(const QString& id);
    // The next free id: "E" and four digits.
    QString allocateId() const;

private:
    // Sets lastError() to what SQLite said.
    void failed() const;

    sqlite3* m_db = nullptr;
    mutable QString m_error;
};

} // namespace zul::host
