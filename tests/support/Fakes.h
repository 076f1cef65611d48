#pragma once

#include "com/HostComponents.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zul::test {

// A message service that records every call with its typed arguments and
// answers confirmations with a preset value.
class RecordingMessages : public com::IErrorMessages {
public:
    com::Variant HandleMessages(const com::Args& args) override;

    std::vector<com::Args> calls;
    bool answer = false;
};

// A file utility whose answers are computed by functions the test sets;
// by default the extension and target of the third word of the line.
class ScriptedFileUtility : public com::IFileUtility {
public:
    std::string GetExtension(std::string& line) override;
    std::string GetTargetFNP(std::string& line) override;

    std::function<std::string(const std::string&)> extension;
    std::function<std::string(const std::string&)> target;
    std::vector<std::string> seen;
};

// An event structure with the host's seven fields.
class FakeEvent : public com::IEventStruct {
public:
    FakeEvent();
    com::Variant Field(const std::string& name) const override;
    void SetField(const std::string& name, com::Variant value) override;

    std::map<std::string, com::Variant> fields;
};

std::shared_ptr<FakeEvent> makeEvent(const std::string& id, const std::string& entity = "ENT",
                                     std::int16_t runDay = 5);

// Registers the fakes under the host's ProgIDs and returns the message
// service that every create hands out, so a test sees all calls in one place.
struct Fakes {
    std::shared_ptr<RecordingMessages> messages = std::make_shared<RecordingMessages>();
    std::shared_ptr<ScriptedFileUtility> fileUtility = std::make_shared<ScriptedFileUtility>();
    int fileUtilityCreates = 0;
};
std::shared_ptr<Fakes> registerFakes();

// A readable form of a call for failure output and comparisons:
// bool:False, int16:3281, text:"D".
QString describe(const com::Args& args);
QStringList describeAll(const std::vector<com::Args>& calls);

} // namespace zul::test
