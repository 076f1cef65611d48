#include "support/Fakes.h"

#include "com/Registry.h"

#include <QStringList>

namespace zul::test {

com::Variant RecordingMessages::HandleMessages(const com::Args& args)
{
    calls.push_back(args);
    for (const auto& a : args)
        if (a.kind() == com::Variant::Kind::Text && a.asText() == "C")
            return answer;
    return {};
}

namespace {
// The third word, else the second, else nothing.
std::string thirdWord(const std::string& line)
{
    QList<QByteArray> words = QByteArray::fromStdString(line).split(' ');
    words.removeAll(QByteArray());
    return words.value(words.size() >= 3 ? 2 : 1).toStdString();
}
} // namespace

std::string ScriptedFileUtility::GetExtension(std::string& line)
{
    seen.push_back(line);
    if (extension)
        return extension(line);
    const std::string t = thirdWord(line);
    const auto dot = t.find_last_of('.');
    return dot == std::string::npos ? std::string() : t.substr(dot + 1);
}

std::string ScriptedFileUtility::GetTargetFNP(std::string& line)
{
    seen.push_back(line);
    if (target)
        return target(line);
    return thirdWord(line);
}

FakeEvent::FakeEvent()
{
    for (const char* f : {"BAEvent", "BAEntName", "BAEvTYPE", "BAFLAG1", "BAFLAG2", "BAFLAG4"})
        fields[f] = std::string();
    fields["BARUNDAY"] = std::int16_t{0};
}

com::Variant FakeEvent::Field(const std::string& name) const
{
    const auto it = fields.find(name);
    if (it == fields.end())
        throw com::ComError(438, "Object doesn't support this property or method");
    return it->second;
}

void FakeEvent::SetField(const std::string& name, com::Variant value)
{
    if (!fields.count(name))
        throw com::ComError(438, "Object doesn't support this property or method");
    fields[name] = std::move(value);
}

std::shared_ptr<FakeEvent> makeEvent(const std::string& id, const std::string& entity, std::int16_t runDay)
{
    auto e = std::make_shared<FakeEvent>();
    e->fields["BAEvent"] = id;
    e->fields["BAEntName"] = entity;
    e->fields["BAEvTYPE"] = std::string("ZUL");
    e->fields["BARUNDAY"] = runDay;
    return e;
}

std::shared_ptr<Fakes> registerFakes()
{
    auto fakes = std::make_shared<Fakes>();
    std::weak_ptr<Fakes> weak = fakes;
    com::registerClass(com::kErrorMessagesProgId, [weak]() -> com::ObjectPtr {
        auto f = weak.lock();
        return f ? f->messages : nullptr;
    });
    com::registerClass(com::kFileUtilityProgId, [weak]() -> com::ObjectPtr {
        auto f = weak.lock();
        if (!f)
            return nullptr;
        ++f->fileUtilityCreates;
        return f->fileUtility;
    });
    com::registerClass(com::kEventStructProgId, [] { return std::make_shared<FakeEvent>(); });
    return fakes;
}

QString describe(const com::Args& args)
{
    QStringList parts;
    for (const auto& a : args) {
        const QString kind = QString::fromLatin1(com::Variant::kindName(a.kind()));
        if (a.kind() == com::Variant::Kind::Text)
            parts << kind + QStringLiteral(":\"") + QString::fromStdString(a.asText()) + QLatin1Char('"');
        else
            parts << kind + QLatin1Char(':') + QString::fromStdString(a.toText());
    }
    return parts.join(QStringLiteral(", "));
}

QStringList describeAll(const std::vector<com::Args>& calls)
{
    QStringList out;
    for (const auto& c : calls)
        out << describe(c);
    return out;
}

} // namespace zul::test
