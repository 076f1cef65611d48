#pragma once

#include "com/HostComponents.h"

#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace zul::host {

// Text in UTF-8; the event structure carries it in the 8-bit code page.
struct EventRecord {
    std::string id;
    std::string entity;
    std::string type = "ZUL";
    int runDay = 0;
    std::string flag1 = "0";
    std::string flag2 = "0";
    std::string flag4 = "0";
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
    bool open(const std::string& dataFolder);
    std::string lastError() const { return m_error; }

    std::vector<EventRecord> list() const;
    std::optional<EventRecord> find(const std::string& id) const;
    bool put(const EventRecord& record);
    bool remove(const std::string& id);
    // The next free id: "E" and four digits.
    std::string allocateId() const;

private:
    // Sets lastError() to what SQLite said.
    void failed() const;

    sqlite3* m_db = nullptr;
    mutable std::string m_error;
};

} // namespace zul::host
