#include "support/Records.h"

#include "host/MessageService.h"
#include "support/Files.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

namespace zul::test {

QByteArray runRecordLine(const runner::RunRecord& record)
{
    return QByteArray::fromStdString(records::runRecordLine(record));
}

QByteArray runRecordLineWithout(const runner::RunRecord& record, std::initializer_list<std::string_view> fields)
{
    auto o = nlohmann::ordered_json::parse(records::runRecordLine(record));
    for (const auto field : fields)
        o.erase(std::string(field));
    return QByteArray::fromStdString(o.dump(-1, ' ', true) + '\n');
}

bool appendHostMessage(const QString& messagesPath, const com::Args& args, const QDateTime& at)
{
    // The service stamps the present; the entry is written aside and dated back.
    QTemporaryDir scratch;
    const QString path = scratch.filePath("messages.jsonl");
    host::MessageService(path.toStdString(), nullptr).HandleMessages(args);
    QJsonObject entry = QJsonDocument::fromJson(readBytes(path)).object();
    if (entry.isEmpty())
        return false;
    entry["at"] = at.toString(Qt::ISODate);
    QFile f(messagesPath);
    return f.open(QIODevice::Append) && f.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n') > 0;
}

com::Args partnerSilentMessage(const std::string& event, const std::string& address)
{
    using com::msg;
    return {false, msg(4107), msg(4121), msg(4122), "L", event, "ZUL", "1", "12/05/2026", "02:00:00", "90", address};
}

com::Args partnerAnsweredMessage(const std::string& event, const std::string& address)
{
    using com::msg;
    return {false, msg(4124), msg(4125), "L", event, "ZUL", "1", "12/05/2026", "02:00:00", "90", address};
}

} // namespace zul::test
