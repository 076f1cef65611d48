#pragma once

#include "com/Gamut.h"

#include <QMainWindow>
#include <memory>

class QTableWidget;
class QPushButton;

namespace zul::host {

class Host;

// The host's events window: the grid of events and the buttons that hand
// them to the plug-in.
class EventsWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit EventsWindow(Host& host, QWidget* parent = nullptr);

    void refresh();
    QTableWidget* grid() const { return grdEvents; }

public slots:
    void cmdAdd_Click();
    void cmdUpdate_Click();
    void cmdDelete_Click();
    void cmdDuplicate_Click();
    void cmdRun_Click();

private:
    QString selectedId() const;
    void showPanel(std::int32_t option, com::EventStructPtr event, std::string newId = {});
    QString lastOutcome(const QString& id) const;

    Host& m_host;
    std::shared_ptr<com::IGamut12> m_feature;
    QTableWidget* grdEvents;
};

} // namespace zul::host
