#pragma once

#include "host/EventStore.h"
#include "host/history/RunLog.h"

#include "records/RunStatus.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QStyledItemDelegate>
#include <map>
#include <set>
#include <vector>

namespace zul::host {

// The background that tells success from failure at a glance.
QColor resultColour(history::Run::Result result);

// The runs of one event as the history core reads them: its running runs on
// top, then the finished ones, newest first; one row a run.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Start, Outcome, Exit, Duration, Sent, Received, Transcript, ColumnCount };
    static constexpr int EntryRole = Qt::UserRole + 1; // the row's index into entries()
    // Of a running row's Outcome cell: per cent done, -1 when the size is not known.
    static constexpr int ProgressRole = Qt::UserRole + 2;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // New runs at the top are inserted as rows, so the view keeps its selection
    // and scroll position through a live refresh; anything else resets.
    void setEntries(std::vector<history::Run> entries);
    const std::vector<history::Run>& entries() const { return m_entries; }
    const history::Run* entry(const QModelIndex& index) const;

    // The running runs, shown above the finished ones.
    void setRunning(std::vector<records::RunningRun> running);
    const std::vector<records::RunningRun>& running() const { return m_running; }
    const records::RunningRun* runningAt(const QModelIndex& index) const;

private:
    int offset() const { return int(m_running.size()); }

    std::vector<records::RunningRun> m_running;
    std::vector<history::Run> m_entries;
};

// Draws a running row's Outcome cell as a progress bar with its text.
class ProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The events of the schedule with their latest run, for the events grid.
class EventsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Event, Entity, Type, RunDay, Options, LastRun, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // latest: the latest run by event id, as history::RunLog::latest gives it.
    void setEvents(std::vector<EventRecord> events, std::map<std::string, history::Run> latest,
                   std::set<QString> running = {});
    // Only which events have a run going; the rows stay.
    void setRunning(std::set<QString> running);
    // The text of the last-run column: when it ended and how.
    static QString lastRunText(const history::Run& run);

private:
    std::vector<EventRecord> m_events;
    std::map<std::string, history::Run> m_latest;
    std::set<QString> m_running;
};

} // namespace zul::host
