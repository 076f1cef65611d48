#include "host/EventsWindow.h"

#include "host/CodePage.h"
#include "host/EventStruct.h"
#include "host/Host.h"

#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>

namespace zul::host {

EventsWindow::EventsWindow(Host& host, QWidget* parent) : QMainWindow(parent), m_host(host)
{
    setObjectName("EventsWindow");
    setWindowTitle(QStringLiteral("Scheduled Events"));
    m_feature = m_host.createFeature();

    grdEvents = new QTableWidget(0, 6, this);
    grdEvents->setObjectName("grdEvents");
    grdEvents->setHorizontalHeaderLabels(
        {QStringLiteral("Event"), QStringLiteral("Entity"), QStringLiteral("Type"), QStringLiteral("Run day"),
         QStringLiteral("Options"), QStringLiteral("Last run")});
    grdEvents->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdEvents->setSelectionMode(QAbstractItemView::SingleSelection);
    grdEvents->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdEvents->horizontalHeader()->setStretchLastSection(true);
    grdEvents->verticalHeader()->hide();

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

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(grdEvents);
    layout->addLayout(buttons);
    setCentralWidget(central);
    resize(760, 420);
    refresh();
}

QString EventsWindow::lastOutcome(const QString& id) const
{
    QFile f(m_host.pluginApplicationFolder() + QStringLiteral("/Log/runs.jsonl"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QString outcome;
    while (!f.atEnd()) {
        const QJsonObject run = QJsonDocument::fromJson(f.readLine()).object();
        if (run.value("event").toString().trimmed() != id)
            continue;
        const int status = run.value("exit").toInt(-1);
        outcome = QStringLiteral("%1 %2").arg(run.value("end").toString().left(19),
                                              status == 0 ? QStringLiteral("ok")
                                                          : QStringLiteral("failed: %1 (%2)")
                                                                .arg(run.value("outcome").toString())
                                                                .arg(status));
    }
    return outcome;
}

void EventsWindow::refresh()
{
    const QString keep = selectedId();
    const auto events = m_host.store().list();
    grdEvents->setRowCount(static_cast<int>(events.size()));
    int row = 0;
    for (const auto& r : events) {
        QStringList options;
        if (r.flag1.trimmed() == QLatin1String("1"))
            options << QStringLiteral("no empty sends");
        if (r.flag2.trimmed() == QLatin1String("1"))
            options << QStringLiteral("RZ");
        if (r.flag4.trimmed() == QLatin1String("1"))
            options << QStringLiteral("RC");
        const QStringList cells = {r.id, r.entity, r.type, QString::number(r.runDay), options.join(", "),
                                   lastOutcome(r.id)};
        for (int c = 0; c < cells.size(); ++c)
            grdEvents->setItem(row, c, new QTableWidgetItem(cells[c]));
        if (r.id == keep)
            grdEvents->selectRow(row);
        ++row;
    }
}

QString EventsWindow::selectedId() const
{
    const auto rows = grdEvents->selectionModel() ? grdEvents->selectionModel()->selectedRows() : QModelIndexList{};
    if (rows.isEmpty())
        return {};
    auto* item = grdEvents->item(rows.first().row(), 0);
    return item ? item->text() : QString();
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
    if (const auto r = m_host.store().find(selectedId()))
        showPanel(2, toEventStruct(*r));
}

void EventsWindow::cmdDelete_Click()
{
    if (const auto r = m_host.store().find(selectedId()))
        showPanel(3, toEventStruct(*r));
}

void EventsWindow::cmdDuplicate_Click()
{
    if (const auto r = m_host.store().find(selectedId()))
        showPanel(4, toEventStruct(*r), toCodePage(m_host.store().allocateId()));
}

void EventsWindow::cmdRun_Click()
{
    const auto r = m_host.store().find(selectedId());
    if (!r || !m_feature)
        return;
    auto event = toEventStruct(*r);
    std::int32_t mode = static_cast<std::int32_t>(com::RunMode::ViaSchedule);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool started = m_feature->Execution(mode, event);
    QApplication::restoreOverrideCursor();
    statusBar()->showMessage(started ? QStringLiteral("Event %1 handed to the FTP runner.").arg(r->id)
                                     : QStringLiteral("Event %1 was not started; see the run log.").arg(r->id));
    refresh();
}

} // namespace zul::host
