#pragma once

#include "com/HostComponents.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace zul::host {

// ZembDBdll.ClsZembDB: the host database component, over the FastZUL table of
// host.db. Each object has its own connection and its own record buffer.
class ZembDB : public com::IZembDB {
public:
    // The raised error when the connection has gone away.
    static constexpr int kDisconnected = static_cast<int>(0x80010108u);

    // Opens (creating when needed) host.db in dataFolder; nothing when the
    // database cannot be opened or holds no usable FastZUL table.
    static std::shared_ptr<ZembDB> open(const std::string& dataFolder, std::string* error = nullptr);
    ~ZembDB() override;
    ZembDB(const ZembDB&) = delete;
    ZembDB& operator=(const ZembDB&) = delete;

    std::int32_t RecordCount(const std::string& table) override;
    void GetRecord(const std::string& table, std::int16_t& index) override;
    bool SeekByAllPKeys(const std::string& table, const std::optional<std::string>& code, const std::string& first,
                        const std::optional<std::string>& second) override;
    void AddRecord(const std::string& table) override;
    void ResetVar() override;
    void DeleteRecBySearch(const std::string& table, const std::string& code, const std::string& first,
                           const std::optional<std::string>& second = std::nullopt) override;

    std::string FACODE() const override { return m_code; }
    void setFACODE(const std::string& v) override { m_code = v; }
    std::string FAFLDONE() const override { return m_one; }
    void setFAFLDONE(const std::string& v) override { m_one = v; }
    std::string FAFLDTWO() const override { return m_two; }
    void setFAFLDTWO(const std::string& v) override { m_two = v; }

    // Drops the connection, as when the database goes away: every call then
    // raises kDisconnected.
    void closeConnection();

private:
    explicit ZembDB(sqlite3* db) : m_db(db) {}
    // Reads the row of a FACODE, FAFLDONE, FAFLDTWO query with LIMIT 1 into the buffer.
    bool readFirst(const std::string& sql, const std::vector<std::string>& values = {});

    sqlite3* m_db = nullptr;
    std::string m_code;
    std::string m_one;
    std::string m_two;
};

} // namespace zul::host
