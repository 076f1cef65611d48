#include "host/EventsWindow.h"

#include "host/CodePage.h"
#include "host/EventStruct.h"
#include "host/HistoryModel.h"
#include "host/Host.h"
#include "host/TranscriptViewer.h"
#include "host/history/Commands.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "records/RunCancel.h"

#include "com/Diagnostics.h"
#include "com/HostComponents.h"
#include "com/Registry.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace zul::host {

namespace {

// The history core takes file names as bytes.
std::string encoded(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString decoded(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QTableView* makeTable(const char* name, QAbstractItemModel* model, QWidget* parent)
{
    auto* view = new QTableView(parent);
    view->setObjectName(QString::fromLatin1(name));
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->horizontalHeader()->setStretchLastSection(true);
    view->verticalHeader()->hide();
    view->setWordWrap(false);
    return view;
}

} // namespace

EventsWindow::EventsWindow(Host& host, QWidget* parent)
    : QMainWindow(parent), m_host(host),
      m_runs(encoded(QDir(decoded(host.pluginApplicationFolder())).filePath(QStringLiteral("Log"))),
             host.messageLogPath()),
      m_lockFolder(QDir(decoded(host.pluginApplicationFolder())).filePath(QStringLiteral("Lock")))
{
    setObjectName("EventsWindow");
    setWindowTitle(QStringLiteral("Scheduled Events"));
    m_feature = m_host.createFeature();

    m_eventsModel = new EventsModel(this);
    m_filter = new QSortFilterProxyModel(this);
    m_filter->setSourceModel(m_eventsModel);
    m_filter->setFilterKeyColumn(-1);
    m_filter->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_filter->setSortCaseSensitivity(Qt::CaseInsensitive);

    txtFilter = new QLineEdit(this);
    txtFilter->setObjectName("txtFilter");
    txtFilter->setPlaceholderText(QStringLiteral("Filter events: id, entity, options or last run"));
    txtFilter->setClearButtonEnabled(true);
    connect(txtFilter, &QLineEdit::textChanged, m_filter, &QSortFilterProxyModel::setFilterFixedString);

    grdEvents = makeTable("grdEvents", m_filter, this);
    grdEvents->setSortingEnabled(true);
    grdEvents->sortByColumn(EventsModel::Event, Qt::AscendingOrder);
    connect(grdEvents->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { refreshHistory(); });

    auto* buttons = new QHBoxLayout;
    const struct {
        const char* name;
        const char* text;
        void (EventsWindow::*slot)();
    } defs[] = {{"cmdAdd", "&Add...", &EventsWindow::cmdAdd_Click},
                {"cmdUpdate", "&Update...", &EventsWindow::cmdUpdate_Click},
                {"cmdDelete", "&Delete...", &EventsWindow::cmdDelete_Click},
                {"cmdDuplicate", "D&uplicate...", &EventsWindow::cmdDuplicate_Click},
                {"cmdRun", "&Run", &EventsWindow::cmdRun_Click}};
    for (const auto& d : defs) {
        auto* b = new QPushButton(QString::fromLatin1(d.text), this);
        b->setObjectName(QString::fromLatin1(d.name));
        connect(b, &QPushButton::clicked, this, d.slot);
        buttons->addWidget(b);
    }
    buttons->addStretch();

    m_historyModel = new HistoryModel(this);
    lblHistory = new QLabel(this);
    lblHistory->setObjectName("lblHistory");
    grdHistory = makeTable("grdHistory", m_historyModel, this);
    grdHistory->horizontalHeader()->setStretchLastSection(false);
    grdHistory->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    grdHistory->horizontalHeader()->setSectionResizeMode(HistoryModel::Outcome, QHeaderView::Stretch);
    grdHistory->setToolTip(QStringLiteral("Double-click a run, or press Enter, to read its transcript."));
    // A double-click or Enter opens a run's transcript; not "activated", which
    // some styles emit on a single click.
    connect(grdHistory, &QAbstractItemView::doubleClicked, this, &EventsWindow::openTranscript);
    grdHistory->setItemDelegateForColumn(HistoryModel::Outcome, new ProgressDelegate(grdHistory));
    grdHistory->installEventFilter(this);

    auto* top = new QWidget(this);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->addWidget(txtFilter);
    topLayout->addWidget(grdEvents);
    topLayout->addLayout(buttons);
    auto* bottom = new QWidget(this);
    auto* bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->addWidget(lblHistory);
    bottomLayout->addWidget(grdHistory);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(top);
    split->addWidget(bottom);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(split);
    setCentralWidget(central);
    resize(900, 600);

    // Runners append to runs.jsonl when they finish: watch it and its folder
    // (rotation renames the file away), and the host's log, then refresh once
    // the writes have settled. Running runs replace their status in the Lock
    // folder a few times a second at most: the folder's changes bring them,
    // and only they are read again then (a run's end also writes runs.jsonl).
    auto settleTimer = [this](void (EventsWindow::*slot)()) {
        auto* timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setInterval(150);
        connect(timer, &QTimer::timeout, this, slot);
        return timer;
    };
    m_settle = settleTimer(&EventsWindow::refresh);
    m_settleRunning = settleTimer(&EventsWindow::refreshRunning);
    m_watcher = new QFileSystemWatcher(this);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, m_settle, qOverload<>(&QTimer::start));
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this,
            [this](const QString& path) { (path == m_lockFolder ? m_settleRunning : m_settle)->start(); });
    if (!m_host.pluginApplicationFolder().empty())
        zul::platform::makeSharedFolder(m_runs.logFolder());
    refresh();
}

void EventsWindow::watchLogs()
{
    // The host's data folder only until messages.jsonl exists: the events
    // store writes its journal there.
    const QString messageLog = decoded(m_runs.messageLog());
    const bool hostLog = QFileInfo::exists(messageLog);
    const QString dataFolder = decoded(m_host.dataFolder());
    QStringList wanted{decoded(m_runs.logFolder()), decoded(m_runs.runsPath()), hostLog ? messageLog : dataFolder,
                       m_lockFolder};
    const QStringList watched = m_watcher->files() + m_watcher->directories();
    if (hostLog && watched.contains(dataFolder))
        m_watcher->removePath(dataFolder);
    for (const QString& path : wanted)
        if (!watched.contains(path) && QFileInfo::exists(path))
            m_watcher->addPath(path);
}

void EventsWindow::refresh()
{
    watchLogs();
    const QString keep = selectedId();
    auto events = m_host.store().list();
    std::vector<std::string> ids;
    ids.reserve(events.size());
    for (const auto& r : events)
        ids.push_back(r.id);
    m_eventsModel->setEvents(std::move(events), m_runs.latest(ids), readRunning());
    if (selectedId() != keep)
        select(keep);
    refreshHistory();
}

std::set<QString> EventsWindow::readRunning()
{
    m_running = m_host.pluginApplicationFolder().empty() ? std::vector<records::RunningRun>()
                                                         : records::runningRuns(encoded(m_lockFolder));
    std::set<QString> events;
    for (const auto& r : m_running)
        events.insert(QString::fromStdString(r.status.event));
    return events;
}

void EventsWindow::refreshRunning()
{
    m_eventsModel->setRunning(readRunning());
    showRunning(selectedId());
    placeCancelButtons();
}

void EventsWindow::showRunning(const QString& id)
{
    std::vector<records::RunningRun> running;
    for (const auto& r : m_running)
        if (!id.isEmpty() && QString::fromStdString(r.status.event) == id)
            running.push_back(r);
    m_historyModel->setRunning(std::move(running));
}

void EventsWindow::refreshHistory()
{
    const QString id = selectedId();
    showRunning(id);
    if (id.isEmpty()) {
        lblHistory->setText(QStringLiteral("History: select an event"));
        m_historyModel->setEntries({});
        return;
    }
    auto runs = m_runs.read(id.toStdString(), kHistoryRows);
    lblHistory->setText(QStringLiteral("History of %1: %2 (double-click a run or press Enter for its transcript)")
                            .arg(id, runs.size() >= std::size_t(kHistoryRows)
                                         ? QStringLiteral("the latest %1 runs").arg(kHistoryRows)
                                     : runs.size() == 1 ? QStringLiteral("1 run")
                                                        : QStringLiteral("%1 runs").arg(runs.size())));
    m_historyModel->setEntries(std::move(runs));
    placeCancelButtons();
}

void EventsWindow::placeCancelButtons()
{
    for (int row = 0; row < int(m_historyModel->running().size()); ++row) {
        const QModelIndex cell = m_historyModel->index(row, HistoryModel::Exit);
        const long pid = m_historyModel->running()[std::size_t(row)].status.pid;
        auto* button = qobject_cast<QPushButton*>(grdHistory->indexWidget(cell));
        if (button && button->property("pid").toLongLong() == pid)
            continue;
        button = new QPushButton(QStringLiteral("Cancel"));
        button->setObjectName(QStringLiteral("cmdCancel"));
        button->setProperty("pid", qlonglong(pid));
        connect(button, &QPushButton::clicked, this, [this, pid] { cancelRunning(pid); });
        grdHistory->setIndexWidget(cell, button);
    }
}

void EventsWindow::cancelRunning(long pid)
{
    const auto found = std::find_if(m_running.begin(), m_running.end(),
                                    [pid](const records::RunningRun& r) { return r.status.pid == pid; });
    if (found == m_running.end())
        return;
    const records::RunningRun run = *found;
    const QString event = QString::fromStdString(run.status.event);
    const QString question = QStringLiteral("Cancel the running run of event %1 (%2)? The runner stops after its "
                                            "current write and records the run as cancelled.")
                                 .arg(event, QString::fromStdString(records::progressText(run.status)));
    auto messages = com::CreateObjectAs<com::IErrorMessages>(com::kErrorMessagesProgId);
    if (!messages || messages->HandleMessages({true, toCodePage(question), "C", std::int32_t{4}, "Please Confirm"}) !=
                         com::Variant(true))
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto result = records::cancelRun(run, history::cancelGrace());
    QApplication::restoreOverrideCursor();
    statusBar()->showMessage(QStringLiteral("Event %1: %2").arg(event, QString::fromStdString(result.message)));
    refresh();
}

QString EventsWindow::selectedId() const
{
    const auto rows = grdEvents->selectionModel() ? grdEvents->selectionModel()->selectedRows() : QModelIndexList{};
    if (rows.isEmpty())
        return {};
    return rows.first().siblingAtColumn(EventsModel::Event).data().toString();
}

void EventsWindow::select(const QString& id)
{
    for (int row = 0; !id.isEmpty() && row < m_filter->rowCount(); ++row)
        if (m_filter->index(row, EventsModel::Event).data().toString() == id) {
            grdEvents->selectRow(row);
            return;
        }
}

bool EventsWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == grdHistory && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && grdHistory->currentIndex().isValid()) {
            openTranscript(grdHistory->currentIndex());
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void EventsWindow::openTranscript(const QModelIndex& index)
{
    const history::Run* run = m_historyModel->entry(index);
    if (!run)
        return;
    auto* viewer = new TranscriptViewer(*run, decoded(m_runs.transcriptFile(*run)), this);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->show();
}

void EventsWindow::showPanel(std::int32_t option, com::EventStructPtr event, std::string newId)
{
    if (!m_feature || !event)
        return;
    std::int32_t last = 0;
    m_feature->ShowPanel(option, event, &last, &newId);
    if (m_feature->NeedGridRefresh())
        refresh();
}

void EventsWindow::cmdAdd_Click()
{
    auto event = std::make_shared<EventStruct>();
    event->SetField("BAEvTYPE", std::string("ZUL"));
    showPanel(1, event);
}

void EventsWindow::cmdUpdate_Click()
{
    if (const auto r = m_host.store().find(selectedId().toStdString()))
        showPanel(2, toEventStruct(*r));
}

void EventsWindow::cmdDelete_Click()
{
    if (const auto r = m_host.store().find(selectedId().toStdString()))
        showPanel(3, toEventStruct(*r));
}

void EventsWindow::cmdDuplicate_Click()
{
    if (const auto r = m_host.store().find(selectedId().toStdString()))
        showPanel(4, toEventStruct(*r), platform::codePageFromUtf8(m_host.store().allocateId()));
}

void EventsWindow::cmdRun_Click()
{
    const auto r = m_host.store().find(selectedId().toStdString());
    if (!r || !m_feature)
        return;
    auto event = toEventStruct(*r);
    std::int32_t mode = static_cast<std::int32_t>(com::RunMode::ViaSchedule);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto before = com::runsWithoutScript().count;
    const bool started = m_feature->Execution(mode, event);
    QApplication::restoreOverrideCursor();
    if (const auto without = com::runsWithoutScript(); started && without.count != before)
        statusBar()->showMessage(fromCodePage(without.last));
    else
        statusBar()->showMessage(
            started ? QStringLiteral("Event %1 handed to the FTP runner.").arg(QString::fromStdString(r->id))
                    : QStringLiteral("Event %1 was not started; see the run log.").arg(QString::fromStdString(r->id)));
    refresh();
}

} // namespace zul::host
