#pragma once

#include "host/EventStore.h"
#include "host/RunHistory.h"

#include <QAbstractTableModel>
#include <QColor>
#include <map>
#include <vector>

namespace zul::host {

// The background that tells success from failure at a glance.
QColor resultColour(RunEntry::Result result);

// The runs of one event, newest first: one row a run.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Start, Outcome, Exit, Duration, Sent, Received, Transcript, ColumnCount };
    static constexpr int EntryRole = Qt::UserRole + 1; // the row's index into entries()

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // New runs at the top are inserted as rows, so the view keeps its selection
    // and scroll position through a live refresh; anything else resets.
    void setEntries(std::vector<RunEntry> entries);
    const std::vector<RunEntry>& entries() const { return m_entries; }
    const RunEntry* entry(const QModelIndex& index) const;

private:
    std::vector<RunEntry> m_entries;
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

    void setEvents(std::vector<EventRecord> events, std::map<QString, RunEntry> latest);
    // The text of the last-run column: when it ended and how.
    static QString lastRunText(const RunEntry& run);

private:
    std::vector<EventRecord> m_events;
    std::map<QString, RunEntry> m_latest;
};

} // namespace zul::host
