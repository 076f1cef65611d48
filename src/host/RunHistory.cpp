#include "host/RunHistory.h"

#include <QFile>

// The reading itself is the history core's; here its runs become Qt's.
namespace zul::host {

namespace {

std::string path(const QString& p)
{
    return QFile::encodeName(p).toStdString();
}

QString fromPath(const std::string& p)
{
    return QFile::decodeName(QByteArray::fromStdString(p));
}

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string_view view(QByteArrayView bytes)
{
    return {bytes.data(), std::size_t(bytes.size())};
}

} // namespace

RunEntry toRunEntry(const history::Run& run)
{
    RunEntry e;
    e.event = text(run.event);
    e.start = text(run.start);
    e.end = text(run.end);
    e.startMs = run.startMs;
    e.endMs = run.endMs;
    e.exitStatus = run.exitStatus;
    e.outcome = text(run.outcome);
    e.result = static_cast<RunEntry::Result>(run.result);
    e.source = static_cast<RunEntry::Source>(run.source);
    e.filesUp = run.filesUp;
    e.filesDown = run.filesDown;
    e.bytesUp = run.bytesUp;
    e.bytesDown = run.bytesDown;
    e.transcript = text(run.transcript);
    return e;
}

QString resultWord(RunEntry::Result result)
{
    return text(history::resultWord(static_cast<history::Run::Result>(result)));
}

QString shownTime(const QString& stamp)
{
    return text(history::shownTime(stamp.toStdString()));
}

QString shownDuration(qint64 ms)
{
    return text(history::shownDuration(ms));
}

QString shownDuration(const RunEntry& run)
{
    const qint64 ms = run.durationMs();
    return ms < 0 && run.result == RunEntry::Result::Unfinished ? QStringLiteral("unknown") : shownDuration(ms);
}

QString shownTransfer(int files, qint64 bytes)
{
    return text(history::shownTransfer(files, bytes));
}

std::optional<qint64> parseStamp(QByteArrayView text)
{
    return history::parseStamp(view(text));
}

ReverseLines::ReverseLines(const QString& file) : m_lines(path(file)) {}

bool ReverseLines::next(QByteArrayView& line)
{
    std::string_view v;
    if (!m_lines.next(v))
        return false;
    line = QByteArrayView(v.data(), qsizetype(v.size()));
    return true;
}

RunHistory::RunHistory(QString logFolder, QString messageLog)
    : m_logFolder(std::move(logFolder)), m_messageLog(std::move(messageLog)), m_log(path(m_logFolder), path(m_messageLog))
{
}

QString RunHistory::runsPath() const
{
    return fromPath(m_log.runsPath());
}

QStringList RunHistory::runFiles() const
{
    QStringList files;
    for (const auto& f : m_log.runFiles())
        files << fromPath(f);
    return files;
}

QString RunHistory::transcriptFile(const RunEntry& entry) const
{
    history::Run run;
    run.transcript = path(entry.transcript);
    return fromPath(m_log.transcriptFile(run));
}

std::optional<RunEntry> RunHistory::fromRunRecord(const QByteArray& line)
{
    const auto run = history::RunLog::fromRunRecord(view(line));
    return run ? std::optional(toRunEntry(*run)) : std::nullopt;
}

std::optional<RunEntry> RunHistory::fromHostMessage(const QByteArray& line)
{
    const auto run = history::RunLog::fromHostMessage(view(line));
    return run ? std::optional(toRunEntry(*run)) : std::nullopt;
}

std::vector<RunEntry> RunHistory::read(const QString& event, int limit) const
{
    std::vector<RunEntry> runs;
    for (const auto& run : m_log.read(event.toStdString(), limit))
        runs.push_back(toRunEntry(run));
    return runs;
}

std::map<QString, RunEntry> RunHistory::latest(const QStringList& events) const
{
    std::vector<std::string> ids;
    for (const QString& e : events)
        ids.push_back(e.toStdString());
    std::map<QString, RunEntry> found;
    for (const auto& [id, run] : m_log.latest(ids))
        found.emplace(text(id), toRunEntry(run));
    return found;
}

} // namespace zul::host
