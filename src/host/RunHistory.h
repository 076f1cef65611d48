#pragma once

#include "host/history/RunLog.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>
#include <vector>

namespace zul::host {

// One run of an event: a record of the runner, or a failure that the host
// logged before any runner was started.
struct RunEntry {
    enum class Result { Success, Failed, NotStarted, Unfinished }; // as history::Run's
    enum class Source { Runner, Host };

    QString event;
    QString start; // as recorded
    QString end;
    qint64 startMs = 0; // since the epoch, for ordering
    qint64 endMs = -1;  // -1: no end
    std::optional<int> exitStatus;
    QString outcome; // in words
    Result result = Result::Failed;
    Source source = Source::Runner;
    int filesUp = 0;
    int filesDown = 0;
    qint64 bytesUp = 0;
    qint64 bytesDown = 0;
    QString transcript;

    qint64 durationMs() const { return endMs >= 0 && endMs >= startMs ? endMs - startMs : -1; }
    bool sameRun(const RunEntry& o) const
    {
        return source == o.source && startMs == o.startMs && event == o.event && transcript == o.transcript;
    }
};

QString resultWord(RunEntry::Result result);
// "2026-12-05 02:00:03" from a recorded stamp.
QString shownTime(const QString& stamp);
// "3.2 s", "4 min 05 s", "-" for none.
QString shownDuration(qint64 ms);
// The same for a run; "unknown" for a runner that died at a time nobody saw.
QString shownDuration(const RunEntry& run);
// "2 files, 12.3 kB"
QString shownTransfer(int files, qint64 bytes);

// Milliseconds since the epoch for "YYYY-MM-DDTHH:MM:SS[.fff][Z|+hhmm|+hh:mm]";
// without a zone the stamp is local time. Nullopt when it is not such a stamp.
std::optional<qint64> parseStamp(QByteArrayView text);

// Reads a text file line by line from its end (see history::ReverseLines).
class ReverseLines {
public:
    explicit ReverseLines(const QString& path);

    bool isOpen() const { return m_lines.isOpen(); }
    // The next line towards the start of the file, without its line end; false
    // at the start. The view is valid until the next call.
    bool next(QByteArrayView& line);

private:
    history::ReverseLines m_lines;
};

// The history of runs: Log/runs.jsonl and its rotated files (runs.jsonl.1 is
// the newest of them) merged with the host's messages.jsonl, where the runs
// that never reached a runner are logged (partner silent, failure before the
// start). Newest first by start.
class RunHistory {
public:
    RunHistory(QString logFolder, QString messageLog);

    // The runs of one event (all events when empty), at most limit of them (0: all).
    std::vector<RunEntry> read(const QString& event = {}, int limit = 0) const;
    // The latest run of each of the events that has one.
    std::map<QString, RunEntry> latest(const QStringList& events) const;

    // runs.jsonl first, then runs.jsonl.1, .2 ... while they exist.
    QStringList runFiles() const;
    const QString& logFolder() const { return m_logFolder; }
    QString runsPath() const;
    const QString& messageLog() const { return m_messageLog; }
    // Where the entry's transcript is now: the recorded path, or the file of
    // that name in the log folder (an application folder that moved); empty when gone.
    QString transcriptFile(const RunEntry& entry) const;

    // One line of either log taken apart; nullopt for a line that is no run.
    static std::optional<RunEntry> fromRunRecord(const QByteArray& line);
    static std::optional<RunEntry> fromHostMessage(const QByteArray& line);

private:
    QString m_logFolder;
    QString m_messageLog;
    history::RunLog m_log;
};

// The Qt side of a run read by the history core.
RunEntry toRunEntry(const history::Run& run);

} // namespace zul::host
