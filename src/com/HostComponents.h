#pragma once

#include "com/Object.h"
#include "com/Variant.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The host suite's components as the plug-in sees them: created by ProgID,
// called by member name.
namespace zul::com {

inline constexpr const char* kErrorMessagesProgId = "QorvUtil.ErrorMessages";
inline constexpr const char* kFileUtilityProgId = "QorvUtil.FileUtility";
inline constexpr const char* kEventStructProgId = "QorvUtil.QorvEvntStruct";
inline constexpr const char* kEventPanelProgId = "Nerupanel.iEvntpnl";
inline constexpr const char* kDatabaseProgId = "ZembDBdll.ClsZembDB";

// A failing call on a component. The calling procedure's own trap decides
// what becomes of it.
class ZUL_COM_EXPORT ComError : public std::runtime_error {
public:
    ComError(int number, const std::string& description) : std::runtime_error(description), m_number(number) {}
    ~ComError() override;
    int number() const { return m_number; }

private:
    int m_number;
};

using Args = std::vector<Variant>;

// QorvUtil.ErrorMessages
class ZUL_COM_EXPORT IErrorMessages : public Object {
public:
    ~IErrorMessages() override;
    // (answer wanted, numbers or one text, kind letter, kind's arguments...)
    virtual Variant HandleMessages(const Args& args) = 0;
};

// QorvUtil.FileUtility; both take a whole GET command line.
class ZUL_COM_EXPORT IFileUtility : public Object {
public:
    ~IFileUtility() override;
    virtual std::string GetExtension(std::string& line) = 0;
    virtual std::string GetTargetFNP(std::string& line) = 0;
};

// QorvUtil.QorvEvntStruct: the host's record of one event, fields by name.
class ZUL_COM_EXPORT IEventStruct : public Object {
public:
    ~IEventStruct() override;
    // An unknown field name fails with ComError 438.
    virtual Variant Field(const std::string& name) const = 0;
    virtual void SetField(const std::string& name, Variant value) = 0;

    std::string text(const std::string& name) const { return Field(name).toText(); }
};

using EventStructPtr = std::shared_ptr<IEventStruct>;

// Nerupanel.iEvntpnl: the host's own event panel.
class ZUL_COM_EXPORT IEventPanel : public Object {
public:
    ~IEventPanel() override;
    virtual std::int32_t ShowPanel(std::int32_t& OEventOption, EventStructPtr& EventStruct,
                                   std::int32_t& uLastPanelAction, std::string& sNewEventId) = 0;
    virtual bool Delete_Event_From_Schedule(std::string eventId) = 0;
};

// ZembDBdll.ClsZembDB: the host database component, used by the Fast Path
// dialog. An omitted key argument (nullopt) or an empty one matches any value.
class ZUL_COM_EXPORT IZembDB : public Object {
public:
    ~IZembDB() override;
    virtual std::int32_t RecordCount(const std::string& table) = 0;
    virtual void GetRecord(const std::string& table, std::int16_t& index) = 0;
    virtual bool SeekByAllPKeys(const std::string& table, const std::optional<std::string>& code,
                                const std::string& first, const std::optional<std::string>& second) = 0;
    virtual void AddRecord(const std::string& table) = 0;
    virtual void ResetVar() = 0;
    virtual void DeleteRecBySearch(const std::string& table, const std::string& code, const std::string& first,
                                   const std::optional<std::string>& second = std::nullopt) = 0;

    virtual std::string FACODE() const = 0;
    virtual void setFACODE(const std::string& v) = 0;
    virtual std::string FAFLDONE() const = 0;
    virtual void setFAFLDONE(const std::string& v) = 0;
    virtual std::string FAFLDTWO() const = 0;
    virtual void setFAFLDTWO(const std::string& v) = 0;
};

// A component reference that must be set; an empty one fails the way a call
// on nothing does (91).
template <typename T>
T& use(const std::shared_ptr<T>& ref)
{
    if (!ref)
        throw ComError(91, "Object variable or With block variable not set");
    return *ref;
}

// Shorthand for the 16-bit message numbers the plug-in passes.
constexpr std::int16_t msg(int number)
{
    return static_cast<std::int16_t>(number);
}

} // namespace zul::com
