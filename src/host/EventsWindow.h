#pragma once

#include "com/Gamut.h"
#include "host/history/RunLog.h"
#include "records/RunStatus.h"

#include <QMainWindow>
#include <memory>
#include <set>

class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QTableView;
class QTimer;

namespace zul::host {

class EventsModel;
class Host;
class HistoryModel;

// The host's events window: the grid of events with a filter box, the buttons
// that hand them to the plug-in, and the run history of the selected event,
// kept up to date as runners finish.
class EventsWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit EventsWindow(Host& host, QWidget* parent = nullptr);

    void refresh();
    QTableView* grid() const { return grdEvents; }
    QTableView* history() const { return grdHistory; }
    HistoryModel* historyModel() const { return m_historyModel; }

    // How many runs the history pane shows.
    static constexpr int kHistoryRows = 500;

public slots:
    void cmdAdd_Click();
    void cmdUpdate_Click();
    void cmdDelete_Click();
    void cmdDuplicate_Click();
    void cmdRun_Click();
    void openTranscript(const QModelIndex& index);
    // The Cancel button of a running row: asks first, through the message
    // service, then stops the run of process pid (see records::cancelRun).
    void cancelRunning(long pid);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString selectedId() const;
    void select(const QString& id);
    void showPanel(std::int32_t option, com::EventStructPtr event, std::string newId = {});
    void refreshHistory();
    // The running runs alone, when only the Lock folder changed.
    void refreshRunning();
    std::set<QString> readRunning();
    void showRunning(const QString& id);
    void watchLogs();
    void placeCancelButtons();

    Host& m_host;
    std::shared_ptr<com::IGamut12> m_feature;
    history::RunLog m_runs;
    QString m_lockFolder; // where running runs keep their status
    std::vector<records::RunningRun> m_running;
    EventsModel* m_eventsModel;
    QSortFilterProxyModel* m_filter;
    HistoryModel* m_historyModel;
    QLineEdit* txtFilter;
    QTableView* grdEvents;
    QLabel* lblHistory;
    QTableView* grdHistory;
    QFileSystemWatcher* m_watcher;
    QTimer* m_settle;
    QTimer* m_settleRunning;
};

} // namespace zul::host
