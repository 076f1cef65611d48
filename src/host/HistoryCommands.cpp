#include "host/HistoryCommands.h"

#include "host/RunHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace zul::host {

namespace {

int fail(const QString& message, int code = 2)
{
    std::fprintf(stderr, "qorvhost: %s\n", message.toLocal8Bit().constData());
    return code;
}

void put(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
}

// The runs live in the Log folder of the plug-in's application folder; the
// plug-in need not be loaded to find it.
std::optional<RunHistory> history(const QString& dataFolder, const QString& pluginPath, int* code)
{
    const QFileInfo plugin(pluginPath);
    if (!plugin.exists()) {
        *code = fail(QStringLiteral("plug-in '%1' not found").arg(pluginPath));
        return std::nullopt;
    }
    return RunHistory(QDir(plugin.absolutePath()).filePath(QStringLiteral("Log")),
                      QDir(dataFolder).filePath(QStringLiteral("messages.jsonl")));
}

QString shownEvent(const QString& event)
{
    return event.isEmpty() ? QStringLiteral("(Fast Path)") : event;
}

QByteArray textLine(const RunEntry& e)
{
    const bool ran = e.source == RunEntry::Source::Runner;
    const QStringList fields = {
        shownTime(e.start),
        shownEvent(e.event),
        e.outcome.isEmpty() ? resultWord(e.result) : e.outcome,
        e.exitStatus ? QStringLiteral("exit %1").arg(*e.exitStatus) : QStringLiteral("-"),
        shownDuration(e.durationMs()),
        ran ? QStringLiteral("up %1; down %2")
                  .arg(shownTransfer(e.filesUp, e.bytesUp), shownTransfer(e.filesDown, e.bytesDown))
            : QStringLiteral("-"),
        e.transcript.isEmpty() ? QStringLiteral("-") : e.transcript,
    };
    return fields.join(QLatin1Char('\t')).toUtf8() + '\n';
}

QByteArray jsonLine(const RunEntry& e)
{
    QJsonObject o;
    o["event"] = e.event;
    o["start"] = e.start;
    o["end"] = e.end.isEmpty() ? QJsonValue() : QJsonValue(e.end);
    o["exit"] = e.exitStatus ? QJsonValue(*e.exitStatus) : QJsonValue();
    o["outcome"] = e.outcome;
    o["result"] = resultWord(e.result);
    o["source"] = e.source == RunEntry::Source::Runner ? QStringLiteral("runner") : QStringLiteral("host");
    o["duration_ms"] = e.durationMs() >= 0 ? QJsonValue(e.durationMs()) : QJsonValue();
    o["files_up"] = e.filesUp;
    o["bytes_up"] = e.bytesUp;
    o["files_down"] = e.filesDown;
    o["bytes_down"] = e.bytesDown;
    o["transcript"] = e.transcript.isEmpty() ? QJsonValue() : QJsonValue(e.transcript);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<int> positive(const QString& text)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 1)
        return std::nullopt;
    return n;
}

} // namespace

int historyCommand(const QString& dataFolder, const QString& pluginPath, const QStringList& args)
{
    QString event;
    int limit = 0;
    bool json = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--json")) {
            json = true;
        } else if (a == QLatin1String("--limit")) {
            const auto n = positive(args.value(i + 1));
            if (!n)
                return fail(QStringLiteral("--limit needs a number of runs, 1 or more"));
            limit = *n;
            ++i;
        } else if (a.startsWith(QLatin1String("--"))) {
            return fail(QStringLiteral("unknown option '%1'").arg(a));
        } else if (event.isEmpty()) {
            event = a.trimmed();
        } else {
            return fail(QStringLiteral("history takes one event id, not '%1'").arg(a));
        }
    }
    int code = 0;
    const auto h = history(dataFolder, pluginPath, &code);
    if (!h)
        return code;
    for (const RunEntry& e : h->read(event, limit))
        put(json ? jsonLine(e) : textLine(e));
    return 0;
}

int transcriptCommand(const QString& dataFolder, const QString& pluginPath, const QStringList& args)
{
    const QString event = args.value(0).trimmed();
    if (event.isEmpty() || args.size() > 2)
        return fail(QStringLiteral("transcript needs ID [N]"));
    int n = 1;
    if (args.size() == 2) {
        const auto v = positive(args[1]);
        if (!v)
            return fail(QStringLiteral("N counts the runs from the latest (1), not '%1'").arg(args[1]));
        n = *v;
    }
    int code = 0;
    const auto h = history(dataFolder, pluginPath, &code);
    if (!h)
        return code;
    const auto runs = h->read(event, n);
    if (int(runs.size()) < n)
        return fail(runs.empty() ? QStringLiteral("no runs of event '%1'").arg(event)
                                 : QStringLiteral("event '%1' has %2 runs, not %3").arg(event).arg(runs.size()).arg(n),
                    1);
    const RunEntry& run = runs[std::size_t(n - 1)];
    if (run.source == RunEntry::Source::Host)
        return fail(QStringLiteral("the run of %1 never reached the runner, so it has no transcript: %2")
                        .arg(shownTime(run.start), run.outcome),
                    1);
    const QString path = h->transcriptFile(run);
    if (path.isEmpty())
        return fail(
            QStringLiteral("the transcript of the run of %1 is gone (older than the retention period?): %2")
                .arg(shownTime(run.start), run.transcript.isEmpty() ? QStringLiteral("none recorded") : run.transcript),
            1);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read '%1': %2").arg(path, f.errorString()));
    while (!f.atEnd())
        put(f.read(1 << 16));
    return 0;
}

} // namespace zul::host
