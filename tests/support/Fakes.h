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

// A message service that records every call and answers confirmations with answer.
class RecordingMessages : public com::IErrorMessages {
public:
    com::Variant HandleMessages(const com::Args& args) override;

    std::vector<com::Args> calls;
    bool answer = false;
};

// A file utility answering through the test's functions, else with the third word's extension and itself.
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

// Registers the fakes under the host's ProgIDs; every create hands out the same objects.
struct Fakes {
    std::shared_ptr<RecordingMessages> messages = std::make_shared<RecordingMessages>();
    std::shared_ptr<ScriptedFileUtility> fileUtility = std::make_shared<ScriptedFileUtility>();
    int fileUtilityCreates = 0;
};
std::shared_ptr<Fakes> registerFakes();

// A call as text for comparisons: bool:False, int16:3281, text:"D".
QString describe(const com::Args& args);
QStringList describeAll(const std::vector<com::Args>& calls);

} // namespace zul::test
