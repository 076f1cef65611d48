#include "host/HistoryModel.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QPainter>
#include <QStyleOptionProgressBar>
#include <algorithm>

namespace zul::host {

using history::Run;

namespace {

// The core's words and numbers as the views show them.
QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

bool sameRun(const Run& a, const Run& b)
{
    return a.source == b.source && a.startMs == b.startMs && a.event == b.event && a.transcript == b.transcript;
}

} // namespace

QColor resultColour(Run::Result result)
{
    switch (result) {
    case Run::Result::Success:
        return QColor(0xd4, 0xf0, 0xd4);
    case Run::Result::Failed:
    case Run::Result::NotStarted:
        return QColor(0xf8, 0xd0, 0xd0);
    case Run::Result::Unfinished:
        return QColor(0xfb, 0xe6, 0xb4);
    }
    return {};
}

int HistoryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : offset() + int(m_entries.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const Run* HistoryModel::entry(const QModelIndex& index) const
{
    const int row = index.row() - offset();
    if (!index.isValid() || row < 0 || row >= int(m_entries.size()))
        return nullptr;
    return &m_entries[std::size_t(row)];
}

const records::RunningRun* HistoryModel::runningAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= offset())
        return nullptr;
    return &m_running[std::size_t(index.row())];
}

namespace {

QVariant runningData(const records::RunStatus& s, int column, int role)
{
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case HistoryModel::Start:
            return text(history::shownTime(s.start));
        case HistoryModel::Outcome:
            return QStringLiteral("running: ") + QString::fromStdString(records::progressText(s));
        case HistoryModel::Duration: {
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            return text(history::shownDuration(now > s.startMs ? now - s.startMs : 0));
        }
        case HistoryModel::Exit:
            return QString();
        default:
            return QStringLiteral("-");
        }
    case HistoryModel::ProgressRole:
        if (column != HistoryModel::Outcome)
            return {};
        return s.total > 0 && !s.file.empty() ? int(std::clamp(double(s.done) * 100 / double(s.total), 0.0, 100.0))
                                              : -1;
    case Qt::ToolTipRole:
        return QStringLiteral("running, process %1").arg(s.pid);
    case Qt::TextAlignmentRole:
        if (column == HistoryModel::Duration)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    }
    return {};
}

} // namespace

QVariant HistoryModel::data(const QModelIndex& index, int role) const
{
    if (const auto* r = runningAt(index))
        return runningData(r->status, index.column(), role);
    const Run* e = entry(index);
    if (!e)
        return {};
    const bool ran = e->source == Run::Source::Runner;
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case Start:
            return text(history::shownTime(e->start));
        case Outcome:
            return text(e->outcome.empty() ? history::resultWord(e->result) : e->outcome);
        case Exit:
            return e->exitStatus ? QString::number(*e->exitStatus) : QStringLiteral("-");
        case Duration:
            return text(history::shownDuration(*e));
        case Sent:
            return ran ? text(history::shownTransfer(e->filesUp, e->bytesUp)) : QStringLiteral("-");
        case Received:
            return ran ? text(history::shownTransfer(e->filesDown, e->bytesDown)) : QStringLiteral("-");
        case Transcript:
            return e->transcript.empty() ? QStringLiteral("-") : QFileInfo(text(e->transcript)).fileName();
        }
        break;
    case Qt::BackgroundRole:
        return resultColour(e->result);
    case Qt::ForegroundRole:
        return QColor(Qt::black);
    case Qt::ToolTipRole:
        if (index.column() == Transcript)
            return text(e->transcript);
        return QStringLiteral("%1: %2").arg(text(history::resultWord(e->result)), text(e->outcome));
    case Qt::TextAlignmentRole:
        if (index.column() == Exit || index.column() == Duration)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        break;
    case EntryRole:
        return index.row() - offset();
    }
    return {};
}

void HistoryModel::setRunning(std::vector<records::RunningRun> running)
{
    if (running.size() != m_running.size()) {
        beginResetModel();
        m_running = std::move(running);
        endResetModel();
        return;
    }
    m_running = std::move(running);
    if (!m_running.empty())
        emit dataChanged(index(0, 0), index(offset() - 1, ColumnCount - 1));
}

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QVariant progress = index.data(HistoryModel::ProgressRole);
    if (!progress.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(1, 1, -1, -1);
    bar.minimum = 0;
    // A size not known: a busy bar.
    bar.maximum = progress.toInt() < 0 ? 0 : 100;
    bar.progress = std::max(0, progress.toInt());
    bar.text = index.data(Qt::DisplayRole).toString();
    bar.textVisible = true;
    bar.state = option.state | QStyle::State_Horizontal;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const names[] = {"Start", "Outcome", "Exit", "Duration", "Sent", "Received", "Transcript"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(names[section]) : QVariant();
}

void HistoryModel::setEntries(std::vector<Run> entries)
{
    // How many new runs came in above the old newest one.
    std::size_t added = entries.size();
    if (!m_entries.empty()) {
        added = entries.size();
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (sameRun(entries[i], m_entries.front())) {
                added = i;
                break;
            }
    }
    bool prefix = !m_entries.empty() && added < entries.size();
    for (std::size_t i = 0; prefix && i + added < entries.size() && i < m_entries.size(); ++i)
        prefix = sameRun(entries[i + added], m_entries[i]);
    if (!prefix) {
        beginResetModel();
        m_entries = std::move(entries);
        endResetModel();
        return;
    }
    if (added > 0) {
        beginInsertRows({}, offset(), offset() + int(added) - 1);
        m_entries.insert(m_entries.begin(), entries.begin(), entries.begin() + std::ptrdiff_t(added));
        endInsertRows();
    }
    if (m_entries.size() > entries.size()) {
        beginRemoveRows({}, offset() + int(entries.size()), offset() + int(m_entries.size()) - 1);
        m_entries.resize(entries.size());
        endRemoveRows();
    } else if (m_entries.size() < entries.size()) {
        // Older runs came into reach (a larger limit, a record appended late).
        beginInsertRows({}, offset() + int(m_entries.size()), offset() + int(entries.size()) - 1);
        m_entries.insert(m_entries.end(), entries.begin() + std::ptrdiff_t(m_entries.size()), entries.end());
        endInsertRows();
    }
    m_entries = std::move(entries);
    if (!m_entries.empty())
        emit dataChanged(index(offset(), 0), index(offset() + int(m_entries.size()) - 1, ColumnCount - 1));
}

int EventsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_events.size());
}

int EventsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString EventsModel::lastRunText(const Run& run)
{
    QString when = text(history::shownTime(run.end.empty() ? run.start : run.end));
    const QString outcome = text(run.outcome);
    switch (run.result) {
    case Run::Result::Success:
        return when + QStringLiteral(" ok");
    case Run::Result::Failed:
        return QStringLiteral("%1 failed: %2 (%3)").arg(when, outcome).arg(run.exitStatus.value_or(-1));
    case Run::Result::NotStarted:
        return QStringLiteral("%1 not started: %2").arg(when, outcome);
    case Run::Result::Unfinished:
        return QStringLiteral("%1 unfinished: %2").arg(when, outcome);
    }
    return when;
}

QVariant EventsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_events.size()))
        return {};
    const EventRecord& r = m_events[std::size_t(index.row())];
    const auto run = m_latest.find(r.id);
    const bool hasRun = run != m_latest.end();
    const QString id = QString::fromStdString(r.id);
    const auto isSet = [](const std::string& flag) {
        return QString::fromStdString(flag).trimmed() == QLatin1String("1");
    };
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case Event:
            return id;
        case Entity:
            return QString::fromStdString(r.entity);
        case Type:
            return QString::fromStdString(r.type);
        case RunDay:
            return QString::number(r.runDay);
        case Options: {
            QStringList options;
            if (isSet(r.flag1))
                options << QStringLiteral("no empty sends");
            if (isSet(r.flag2))
                options << QStringLiteral("RZ");
            if (isSet(r.flag4))
                options << QStringLiteral("RC");
            return options.join(QStringLiteral(", "));
        }
        case LastRun:
            if (m_running.contains(id))
                return QStringLiteral("running");
            return hasRun ? lastRunText(run->second) : QString();
        }
    }
    if (index.column() == LastRun && m_running.contains(id))
        return {};
    if (index.column() == LastRun && hasRun) {
        if (role == Qt::BackgroundRole)
            return resultColour(run->second.result);
        if (role == Qt::ForegroundRole)
            return QColor(Qt::black);
    }
    return {};
}

QVariant EventsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const names[] = {"Event", "Entity", "Type", "Run day", "Options", "Last run"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(names[section]) : QVariant();
}

void EventsModel::setEvents(std::vector<EventRecord> events, std::map<std::string, Run> latest,
                            std::set<QString> running)
{
    m_running = std::move(running);
    // The same events: update in place, so the selection stays put.
    bool same = events.size() == m_events.size();
    for (std::size_t i = 0; same && i < events.size(); ++i)
        same = events[i].id == m_events[i].id;
    if (same) {
        m_events = std::move(events);
        m_latest = std::move(latest);
        if (!m_events.empty())
            emit dataChanged(index(0, 0), index(int(m_events.size()) - 1, ColumnCount - 1));
        return;
    }
    beginResetModel();
    m_events = std::move(events);
    m_latest = std::move(latest);
    endResetModel();
}

void EventsModel::setRunning(std::set<QString> running)
{
    m_running = std::move(running);
    if (!m_events.empty())
        emit dataChanged(index(0, 0), index(int(m_events.size()) - 1, ColumnCount - 1));
}

} // namespace zul::host
