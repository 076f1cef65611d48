#pragma once

#include "com/HostComponents.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace zul::host {

class EventStore;

// The host's own event panel for one event: its id, entity, run day and the
// three options. Continue saves the record into the schedule.
class EventPanelDialog : public QDialog {
    Q_OBJECT
public:
    EventPanelDialog(EventStore& store, std::int32_t option, com::IEventStruct& event, const std::string& newId,
                     QWidget* parent = nullptr);
    std::int32_t result() const { return m_result; }

private:
    void cmdContinue_Click();

    EventStore& m_store;
    std::int32_t m_option;
    com::IEventStruct& m_event;
    std::string m_newId;
    std::int32_t m_result = 3;
    QLineEdit* txtEvent;
    QLineEdit* txtEntity;
    QSpinBox* spnRunDay;
    QCheckBox* chkFlag1;
    QCheckBox* chkFlag2;
    QCheckBox* chkFlag4;
};

// Nerupanel.iEvntpnl
class EventPanel : public com::IEventPanel {
public:
    explicit EventPanel(EventStore& store) : m_store(store) {}
    std::int32_t ShowPanel(std::int32_t& OEventOption, com::EventStructPtr& EventStruct,
                           std::int32_t& uLastPanelAction, std::string& sNewEventId) override;
    bool Delete_Event_From_Schedule(std::string eventId) override;

private:
    EventStore& m_store;
};

} // namespace zul::host
