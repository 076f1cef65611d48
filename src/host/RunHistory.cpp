#include "host/RunHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <queue>
#include <unistd.h>

namespace zul::host {

namespace {

constexpr qint64 kChunk = 64 * 1024;
// Records are appended when a run ends, so a file is in the order of the
// ends; concurrent runners and host processes may disagree by this much.
constexpr qint64 kClockSlackMs = 60 * 1000;

int digits(const char* p, qsizetype size, qsizetype at, int n, bool* ok)
{
    int v = 0;
    for (int i = 0; i < n; ++i) {
        const char c = at + i < size ? p[at + i] : 'x';
        if (c < '0' || c > '9') {
            *ok = false;
            return 0;
        }
        v = v * 10 + (c - '0');
    }
    return v;
}

// The local zone's offset from UTC at a local time. mktime asks the system's
// zone file each time; offsets change on whole hours, so one per hour is kept.
int localOffset(const std::tm& local)
{
    thread_local int cachedKey = -1;
    thread_local int cachedOffset = 0;
    const int key = ((local.tm_year * 13 + local.tm_mon) * 32 + local.tm_mday) * 24 + local.tm_hour;
    if (key != cachedKey) {
        std::tm t = local;
        t.tm_min = t.tm_sec = 0;
        t.tm_isdst = -1;
        std::tm u = local;
        u.tm_min = u.tm_sec = 0;
        cachedOffset = int(::timegm(&u) - std::mktime(&t));
        cachedKey = key;
    }
    return cachedOffset;
}

// The text value of "key":"..." in a flat JSON line, when it holds no escapes.
std::optional<QByteArrayView> quickString(QByteArrayView line, const char* key)
{
    const std::size_t keySize = std::strlen(key);
    const char* at = static_cast<const char*>(::memmem(line.data(), std::size_t(line.size()), key, keySize));
    if (!at)
        return std::nullopt;
    const char* from = at + keySize;
    const char* end = line.data() + line.size();
    const char* to = static_cast<const char*>(std::memchr(from, '"', std::size_t(end - from)));
    if (!to || std::memchr(from, '\\', std::size_t(to - from)))
        return std::nullopt;
    return QByteArrayView(from, to - from);
}

// Ids are trimmed of blanks (spaces) only, as the plug-in trims them.
QString trimmedEvent(const QString& s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s[b] == QLatin1Char(' '))
        ++b;
    while (e > b && s[e - 1] == QLatin1Char(' '))
        --e;
    return s.mid(b, e - b);
}

// The words of the runner's exit statuses, for records that carry none.
QString exitWords(int status)
{
    static const char* const words[] = {"success",
                                        "script error",
                                        "partner unreachable",
                                        "login refused",
                                        "remote file or permission error",
                                        "local file error",
                                        "transient failure after retries",
                                        "delivery failure",
                                        "interrupted",
                                        "runner error",
                                        "timed out"};
    if (status >= 0 && status < int(std::size(words)))
        return QString::fromLatin1(words[status]);
    return QStringLiteral("exit status %1").arg(status);
}

// A record whose run never got to its end: no end stamp, or the words that a
// later run writes for a runner that was killed.
bool saysUnfinished(const QString& outcome)
{
    for (const char* w : {"without finishing", "did not finish", "never finished"})
        if (outcome.contains(QLatin1String(w), Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace

QString resultWord(RunEntry::Result result)
{
    switch (result) {
    case RunEntry::Result::Success:
        return QStringLiteral("success");
    case RunEntry::Result::Failed:
        return QStringLiteral("failed");
    case RunEntry::Result::NotStarted:
        return QStringLiteral("not started");
    case RunEntry::Result::Unfinished:
        return QStringLiteral("unfinished");
    }
    return {};
}

QString shownTime(const QString& stamp)
{
    if (stamp.size() < 19)
        return stamp;
    QString t = stamp.left(19);
    t[10] = QLatin1Char(' ');
    return t;
}

QString shownDuration(qint64 ms)
{
    if (ms < 0)
        return QStringLiteral("-");
    if (ms < 60'000)
        return QStringLiteral("%1 s").arg(double(ms) / 1000.0, 0, 'f', 1);
    const qint64 s = ms / 1000;
    if (s < 3600)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 h %2 min").arg(s / 3600).arg((s / 60) % 60, 2, 10, QLatin1Char('0'));
}

QString shownTransfer(int files, qint64 bytes)
{
    QString size;
    if (bytes < 1000)
        size = QStringLiteral("%1 B").arg(bytes);
    else if (bytes < 1000'000)
        size = QStringLiteral("%1 kB").arg(double(bytes) / 1e3, 0, 'f', 1);
    else if (bytes < 1000'000'000)
        size = QStringLiteral("%1 MB").arg(double(bytes) / 1e6, 0, 'f', 1);
    else
        size = QStringLiteral("%1 GB").arg(double(bytes) / 1e9, 0, 'f', 2);
    return QStringLiteral("%1 %2, %3").arg(files).arg(files == 1 ? "file" : "files", size);
}

std::optional<qint64> parseStamp(QByteArrayView text)
{
    const char* t = text.data();
    const qsizetype size = text.size();
    if (size < 19 || t[4] != '-' || t[7] != '-' || (t[10] != 'T' && t[10] != ' ') || t[13] != ':' || t[16] != ':')
        return std::nullopt;
    bool ok = true;
    std::tm tm{};
    tm.tm_year = digits(t, size, 0, 4, &ok) - 1900;
    tm.tm_mon = digits(t, size, 5, 2, &ok) - 1;
    tm.tm_mday = digits(t, size, 8, 2, &ok);
    tm.tm_hour = digits(t, size, 11, 2, &ok);
    tm.tm_min = digits(t, size, 14, 2, &ok);
    tm.tm_sec = digits(t, size, 17, 2, &ok);
    if (!ok)
        return std::nullopt;
    qsizetype i = 19;
    int ms = 0;
    if (i < size && t[i] == '.') {
        int scale = 100;
        for (++i; i < size && t[i] >= '0' && t[i] <= '9'; ++i, scale /= 10)
            ms += (t[i] - '0') * scale;
    }
    std::time_t secs = 0;
    if (i < size && (t[i] == 'Z' || t[i] == '+' || t[i] == '-')) {
        int offset = 0;
        if (t[i] != 'Z') {
            const int sign = t[i] == '-' ? -1 : 1;
            const int hh = digits(t, size, i + 1, 2, &ok);
            const qsizetype mAt = i + 3 < size && t[i + 3] == ':' ? i + 4 : i + 3;
            const int mm = digits(t, size, mAt, 2, &ok);
            if (!ok)
                return std::nullopt;
            offset = sign * (hh * 3600 + mm * 60);
        }
        secs = ::timegm(&tm) - offset;
    } else {
        secs = ::timegm(&tm) - localOffset(tm);
    }
    return qint64(secs) * 1000 + ms;
}

ReverseLines::ReverseLines(const QString& path)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    const off_t size = ::lseek(m_fd, 0, SEEK_END);
    m_pos = size > 0 ? qint64(size) : 0;
    // Drop a last line that has no line end yet.
    while (readMore()) {
        const void* nl = ::memrchr(m_buf.constData(), '\n', std::size_t(m_end));
        if (nl) {
            m_end = static_cast<const char*>(nl) - m_buf.constData() + 1;
            return;
        }
    }
    m_end = 0;
}

ReverseLines::~ReverseLines()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ReverseLines::readMore()
{
    if (m_fd < 0 || m_pos == 0)
        return false;
    const qint64 n = std::min(kChunk, m_pos);
    QByteArray joined(n + m_end, Qt::Uninitialized);
    const ssize_t got = ::pread(m_fd, joined.data(), std::size_t(n), off_t(m_pos - n));
    if (got != ssize_t(n)) {
        m_pos = 0; // the file shrank under us: what we have is all we read
        return false;
    }
    std::memcpy(joined.data() + n, m_buf.constData(), std::size_t(m_end));
    m_pos -= n;
    m_end += n;
    m_buf = std::move(joined);
    return true;
}

bool ReverseLines::next(QByteArrayView& line)
{
    for (;;) {
        const char* data = m_buf.constData();
        while (m_end > 0 && (data[m_end - 1] == '\n' || data[m_end - 1] == '\r'))
            --m_end;
        if (m_end == 0) {
            if (!readMore())
                return false;
            continue;
        }
        const void* nl = ::memrchr(data, '\n', std::size_t(m_end));
        if (!nl && readMore())
            continue;
        const qsizetype from = nl ? static_cast<const char*>(nl) - data + 1 : 0;
        line = QByteArrayView(data + from, m_end - from);
        m_end = from;
        return true;
    }
}

RunHistory::RunHistory(QString logFolder, QString messageLog)
    : m_logFolder(std::move(logFolder)), m_messageLog(std::move(messageLog))
{
}

QString RunHistory::runsPath() const
{
    return QDir(m_logFolder).filePath(QStringLiteral("runs.jsonl"));
}

QStringList RunHistory::runFiles() const
{
    QStringList files{runsPath()};
    for (int k = 1;; ++k) {
        const QString f = runsPath() + QLatin1Char('.') + QString::number(k);
        if (!QFileInfo::exists(f))
            break;
        files << f;
    }
    return files;
}

QString RunHistory::transcriptFile(const RunEntry& entry) const
{
    if (entry.transcript.isEmpty())
        return {};
    if (QFileInfo(entry.transcript).isFile())
        return entry.transcript;
    const QString moved = QDir(m_logFolder).filePath(QFileInfo(entry.transcript).fileName());
    return QFileInfo(moved).isFile() ? moved : QString();
}

std::optional<RunEntry> RunHistory::fromRunRecord(const QByteArray& line)
{
    QJsonObject o = QJsonDocument::fromJson(line).object();
    // A record cut short by a full disk has the next one glued to it: keep that one.
    if (const qsizetype glued = line.lastIndexOf("{\"event\":"); o.isEmpty() && glued > 0)
        o = QJsonDocument::fromJson(line.mid(glued)).object();
    if (o.isEmpty() || !o.contains(QLatin1String("event")))
        return std::nullopt;
    RunEntry e;
    e.source = RunEntry::Source::Runner;
    e.event = trimmedEvent(o.value("event").toString());
    e.start = o.value("start").toString();
    e.end = o.value("end").toString();
    const auto start = parseStamp(e.start.toLatin1());
    if (!start)
        return std::nullopt;
    e.startMs = *start;
    if (const auto end = parseStamp(e.end.toLatin1()))
        e.endMs = *end;
    const QJsonValue exit = o.value("exit");
    if (exit.isDouble())
        e.exitStatus = exit.toInt();
    e.outcome = o.value("outcome").toString();
    if (e.outcome.isEmpty() && e.exitStatus)
        e.outcome = exitWords(*e.exitStatus);
    if (e.endMs < 0 || !e.exitStatus || saysUnfinished(e.outcome)) {
        e.result = RunEntry::Result::Unfinished;
        if (e.outcome.isEmpty())
            e.outcome = QStringLiteral("ended without finishing");
    } else {
        e.result = *e.exitStatus == 0 ? RunEntry::Result::Success : RunEntry::Result::Failed;
    }
    e.filesUp = o.value("files_up").toInt();
    e.filesDown = o.value("files_down").toInt();
    e.bytesUp = o.value("bytes_up").toInteger();
    e.bytesDown = o.value("bytes_down").toInteger();
    e.transcript = o.value("transcript").toString();
    return e;
}

std::optional<RunEntry> RunHistory::fromHostMessage(const QByteArray& line)
{
    // Run-log entries ("L") that say no runner was started: the partner did
    // not answer, or the run failed before the start.
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    if (o.value("kind").toString() != QLatin1String("L"))
        return std::nullopt;
    const QJsonArray numbers = o.value("numbers").toArray();
    const int first = numbers.isEmpty() ? 0 : numbers.first().toInt();
    if (first != 4107 && first != 3281)
        return std::nullopt;
    // args: False, the numbers, "L", id, type, run day, date, time, "90", text
    const QJsonArray args = o.value("args").toArray();
    const int from = 1 + int(numbers.size()) + 1;
    auto arg = [&](int k) { return args.at(from + k).toObject().value("value").toVariant().toString(); };
    RunEntry e;
    e.source = RunEntry::Source::Host;
    e.result = RunEntry::Result::NotStarted;
    e.event = trimmedEvent(arg(0));
    e.start = o.value("at").toString();
    const auto at = parseStamp(e.start.toLatin1());
    if (!at)
        return std::nullopt;
    e.startMs = *at;
    const QString text = arg(6).trimmed();
    if (first == 4107)
        e.outcome =
            QStringLiteral("partner did not answer") + (text.isEmpty() ? QString() : QStringLiteral(": ") + text);
    else
        e.outcome =
            QStringLiteral("failed before the start") + (text.isEmpty() ? QString() : QStringLiteral(": ") + text);
    return e;
}

namespace {

bool maybeHostFailure(QByteArrayView line)
{
    auto has = [&](const char* s) {
        return ::memmem(line.data(), std::size_t(line.size()), s, std::strlen(s)) != nullptr;
    };
    return has("\"kind\":\"L\"") && (has("\"numbers\":[4107") || has("\"numbers\":[3281"));
}

// The event of a run record without parsing all of it; nullopt when the quick
// look is not enough.
std::optional<QByteArrayView> quickEvent(QByteArrayView line)
{
    // The last record's, should a cut-short one have another glued to it.
    const char* key = "{\"event\":\"";
    const std::size_t keySize = std::strlen(key);
    const char* from = line.data();
    const char* end = line.data() + line.size();
    while (end - from > 1) {
        const void* next = ::memmem(from + 1, std::size_t(end - from - 1), key, keySize);
        if (!next)
            break;
        from = static_cast<const char*>(next);
    }
    auto v = quickString(QByteArrayView(from, end - from), "\"event\":\"");
    if (!v)
        return std::nullopt;
    while (!v->isEmpty() && v->front() == ' ')
        *v = v->sliced(1);
    while (!v->isEmpty() && v->back() == ' ')
        v->chop(1);
    return v;
}

// When the line was appended, as near as the record tells: its end.
std::optional<qint64> appendedAt(QByteArrayView line, const char* key)
{
    const auto v = quickString(line, key);
    if (!v || v->isEmpty())
        return std::nullopt;
    return parseStamp(*v);
}

// A backward scan stops once this many lines in a row were written before the
// oldest time that still matters. The record of a run that died is appended
// when a later run finds it, with that run's old times: it does not count, and
// neither would one stray line.
constexpr int kOlderInARow = 32;

class ScanEnd {
public:
    bool reached(QByteArrayView line, const char* key, qint64 threshold)
    {
        const auto writtenAt = appendedAt(line, key);
        if (!writtenAt)
            return false;
        if (*writtenAt + kClockSlackMs >= threshold) {
            m_older = 0;
            return false;
        }
        if (::memmem(line.data(), std::size_t(line.size()), "without finishing", 17))
            return false;
        return ++m_older >= kOlderInARow;
    }

private:
    int m_older = 0;
};

} // namespace

std::vector<RunEntry> RunHistory::read(const QString& event, int limit) const
{
    std::vector<RunEntry> out;
    // The starts of the newest `limit` runs found so far; once full, its top
    // is the oldest start that can still make the list.
    std::priority_queue<qint64, std::vector<qint64>, std::greater<>> newest;
    auto threshold = [&]() -> qint64 { return limit > 0 && int(newest.size()) >= limit ? newest.top() : LLONG_MIN; };
    auto keep = [&](RunEntry e) {
        if (limit > 0) {
            if (int(newest.size()) >= limit && e.startMs <= newest.top())
                return;
            newest.push(e.startMs);
            if (int(newest.size()) > limit)
                newest.pop();
        }
        out.push_back(std::move(e));
    };

    const QByteArray want = event.toUtf8();
    QByteArrayView line;
    bool done = false;
    ScanEnd runsEnd;
    for (const QString& file : runFiles()) {
        ReverseLines lines(file);
        while (!done && lines.next(line)) {
            if (threshold() != LLONG_MIN && runsEnd.reached(line, "\"end\":\"", threshold())) {
                done = true;
                break;
            }
            if (!event.isEmpty()) {
                const auto quick = quickEvent(line);
                if (quick && *quick != want)
                    continue;
            }
            auto e = fromRunRecord(line.toByteArray());
            if (e && (event.isEmpty() || e->event == event))
                keep(std::move(*e));
        }
        if (done)
            break;
    }

    ReverseLines messages(m_messageLog);
    ScanEnd messagesEnd;
    while (messages.next(line)) {
        if (threshold() != LLONG_MIN && messagesEnd.reached(line, "\"at\":\"", threshold()))
            break;
        if (!maybeHostFailure(line))
            continue;
        auto e = fromHostMessage(line.toByteArray());
        if (e && (event.isEmpty() || e->event == event))
            keep(std::move(*e));
    }

    std::stable_sort(out.begin(), out.end(),
                     [](const RunEntry& a, const RunEntry& b) { return a.startMs > b.startMs; });
    if (limit > 0 && int(out.size()) > limit)
        out.resize(std::size_t(limit));
    return out;
}

std::map<QString, RunEntry> RunHistory::latest(const QStringList& events) const
{
    std::map<QString, RunEntry> found;
    QSet<QByteArray> wanted;
    for (const QString& e : events)
        wanted.insert(e.toUtf8());
    QByteArrayView line;
    for (const QString& file : runFiles()) {
        if (found.size() >= std::size_t(events.size()))
            break;
        ReverseLines lines(file);
        while (found.size() < std::size_t(events.size()) && lines.next(line)) {
            const auto quick = quickEvent(line);
            if (quick && (!wanted.contains(QByteArray::fromRawData(quick->data(), quick->size())) ||
                          found.count(QString::fromUtf8(quick->data(), quick->size()))))
                continue;
            auto e = fromRunRecord(line.toByteArray());
            if (e && events.contains(e->event) && !found.count(e->event))
                found.emplace(e->event, std::move(*e));
        }
    }
    // A host failure newer than the runner's record is the latest run. Once
    // past the oldest of those records, older failures cannot matter.
    qint64 oldest = LLONG_MAX;
    if (found.size() < std::size_t(events.size()))
        oldest = LLONG_MIN;
    for (const auto& [id, e] : found)
        oldest = std::min(oldest, e.startMs);
    ReverseLines messages(m_messageLog);
    std::map<QString, bool> hostSeen;
    ScanEnd messagesEnd;
    while (hostSeen.size() < std::size_t(events.size()) && messages.next(line)) {
        if (oldest != LLONG_MIN && messagesEnd.reached(line, "\"at\":\"", oldest))
            break;
        if (!maybeHostFailure(line))
            continue;
        auto e = fromHostMessage(line.toByteArray());
        if (!e || !events.contains(e->event) || hostSeen[e->event])
            continue;
        hostSeen[e->event] = true;
        auto it = found.find(e->event);
        if (it == found.end())
            found.emplace(e->event, std::move(*e));
        else if (e->startMs > it->second.startMs)
            it->second = std::move(*e);
    }
    return found;
}

} // namespace zul::host
