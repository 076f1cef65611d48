#include "host/MessageService.h"

#include "host/MessageCatalogue.h"
#include "platform/SafeOpen.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <fcntl.h>

namespace zul::host {

using com::Variant;

MessagePresenter::~MessagePresenter() = default;

void HeadlessPresenter::display(const QString& text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

bool HeadlessPresenter::confirm(const QString& title, const QString& text)
{
    std::fprintf(stderr, "%s: %s [%s]\n", title.toLocal8Bit().constData(), text.toLocal8Bit().constData(),
                 m_answerYes ? "yes" : "no");
    return m_answerYes;
}

MessageCall parseMessageCall(const com::Args& args)
{
    const auto bad = [] { return com::ComError(5, "Invalid procedure call or argument"); };
    if (args.size() < 3 || args[0].kind() != Variant::Kind::Boolean)
        throw bad();
    MessageCall call;
    call.answerWanted = args[0].asBool();
    std::size_t i = 1;
    if (args[i].kind() == Variant::Kind::Text) {
        call.text = args[i].asText();
        ++i;
    } else {
        while (i < args.size() && args[i].isNumber()) {
            call.numbers.push_back(args[i].kind() == Variant::Kind::Int16 ? args[i].asInt16() : args[i].asInt32());
            ++i;
        }
        if (call.numbers.empty())
            throw bad();
    }
    if (i >= args.size() || args[i].kind() != Variant::Kind::Text)
        throw bad();
    call.kind = args[i].asText();
    call.rest.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    return call;
}

namespace {

// The arguments that fill the placeholders of the texts, by kind.
std::vector<QString> placeholderArgs(const MessageCall& call)
{
    std::vector<QString> out;
    std::size_t from = call.kind == "C" ? 2 : 0; // "C": buttons and title come first
    for (std::size_t i = from; i < call.rest.size(); ++i)
        out.push_back(fromCodePage(call.rest[i].toText()));
    return out;
}

QJsonValue typed(const Variant& v)
{
    QJsonObject o;
    o["type"] = QString::fromLatin1(Variant::kindName(v.kind()));
    switch (v.kind()) {
    case Variant::Kind::Empty:
        o["value"] = QJsonValue();
        break;
    case Variant::Kind::Boolean:
        o["value"] = v.asBool();
        break;
    case Variant::Kind::Int16:
        o["value"] = v.asInt16();
        break;
    case Variant::Kind::Int32:
        o["value"] = v.asInt32();
        break;
    case Variant::Kind::Text:
        o["value"] = fromCodePage(v.asText());
        break;
    }
    return o;
}

} // namespace

QString composeMessage(const MessageCall& call)
{
    QStringList lines;
    const auto args = placeholderArgs(call);
    if (call.text) {
        lines << fromCodePage(*call.text);
    } else {
        for (int n : call.numbers) {
            QString t = messageText(n);
            if (t.isEmpty())
                t = QStringLiteral("Message %1").arg(n);
            for (std::size_t k = 0; k < args.size() && t.contains(QLatin1Char('%')); ++k)
                t.replace(QStringLiteral("%%1").arg(k + 1), args[k]);
            lines << t;
        }
    }
    if (call.kind == "D") {
        for (const auto& a : args)
            lines << a;
    } else if (call.kind == "L" && call.rest.size() > 6) {
        lines << args.back();
    }
    return lines.join(QLatin1Char('\n'));
}

namespace {
// The message log: never through a link, owner-only whatever the umask.
bool openLog(QFile& f, const QString& logPath)
{
    auto fd = platform::openNoFollow(QFile::encodeName(logPath).toStdString(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    if (!fd)
        return false;
    if (!f.open(fd->get(), QIODevice::Append | QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return false;
    fd->release();
    return true;
}
} // namespace

void appendNote(const QString& logPath, const QString& text)
{
    std::fprintf(stderr, "qorvhost: %s\n", text.toLocal8Bit().constData());
    QJsonObject entry;
    entry["at"] = QDateTime::currentDateTime().toString(Qt::ISODate);
    entry["kind"] = QStringLiteral("N");
    entry["message"] = text;
    QFile f;
    if (openLog(f, logPath))
        f.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n');
}

MessageService::MessageService(QString logPath, std::shared_ptr<MessagePresenter> presenter)
    : m_logPath(std::move(logPath)), m_presenter(std::move(presenter))
{
}

Variant MessageService::HandleMessages(const com::Args& args)
{
    const MessageCall call = parseMessageCall(args);
    const QString message = composeMessage(call);
    Variant reply;
    if (call.kind == "C") {
        const QString title = call.rest.size() > 1 ? fromCodePage(call.rest[1].toText()) : QString();
        reply = m_presenter ? m_presenter->confirm(title, message) : false;
    } else if (call.kind == "D") {
        if (m_presenter)
            m_presenter->display(message);
    }
    append(args, call, message, reply);
    return reply;
}

void MessageService::append(const com::Args& args, const MessageCall& call, const QString& message,
                            const Variant& reply)
{
    QJsonObject entry;
    entry["at"] = QDateTime::currentDateTime().toString(Qt::ISODate);
    entry["kind"] = QString::fromStdString(call.kind);
    QJsonArray numbers;
    for (int n : call.numbers)
        numbers.append(n);
    entry["numbers"] = numbers;
    QJsonArray all;
    for (const auto& a : args)
        all.append(typed(a));
    entry["args"] = all;
    entry["message"] = message;
    if (!reply.isEmpty())
        entry["reply"] = typed(reply);
    QFile f;
    if (openLog(f, m_logPath))
        f.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n');
}

} // namespace zul::host
