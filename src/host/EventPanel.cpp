#include "host/EventPanel.h"

#include "host/CodePage.h"
#include "host/EventStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace zul::host {

namespace {
bool isSet(const com::IEventStruct& e, const char* field)
{
    return fromCodePage(e.text(field)).trimmed() == QLatin1String("1");
}
} // namespace

EventPanelDialog::EventPanelDialog(EventStore& store, std::int32_t option, com::IEventStruct& event,
                                   const std::string& newId, QWidget* parent)
    : QDialog(parent), m_store(store), m_option(option), m_event(event), m_newId(newId)
{
    setObjectName("frmEventPanel");
    setWindowTitle(QStringLiteral("Event - FTP Client"));
    setModal(true);

    txtEvent = new QLineEdit(this);
    txtEvent->setObjectName("txtEvent");
    txtEvent->setReadOnly(true);
    const QString newIdText = fromCodePage(newId).trimmed();
    if (option == 1)
        txtEvent->setText(QStringLiteral("(new)"));
    else if (option == 4)
        txtEvent->setText(newIdText.isEmpty() ? QStringLiteral("(new)") : newIdText);
    else
        txtEvent->setText(fromCodePage(event.text("BAEvent")).trimmed());

    txtEntity = new QLineEdit(fromCodePage(event.text("BAEntName")), this);
    txtEntity->setObjectName("txtEntity");
    spnRunDay = new QSpinBox(this);
    spnRunDay->setObjectName("spnRunDay");
    spnRunDay->setRange(0, 366);
    spnRunDay->setValue(event.Field("BARUNDAY").toInt16().value_or(0));
    chkFlag1 = new QCheckBox(QStringLiteral("Do not send empty files"), this);
    chkFlag1->setObjectName("chkFlag1");
    chkFlag1->setChecked(isSet(event, "BAFLAG1"));
    chkFlag2 = new QCheckBox(QStringLiteral("Refuse empty received files (RZ)"), this);
    chkFlag2->setObjectName("chkFlag2");
    chkFlag2->setChecked(isSet(event, "BAFLAG2"));
    chkFlag4 = new QCheckBox(QStringLiteral("Received size must match the partner's (RC)"), this);
    chkFlag4->setObjectName("chkFlag4");
    chkFlag4->setChecked(isSet(event, "BAFLAG4"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Event:"), txtEvent);
    form->addRow(QStringLiteral("&Entity:"), txtEntity);
    form->addRow(QStringLiteral("&Run day:"), spnRunDay);
    form->addRow(chkFlag1);
    form->addRow(chkFlag2);
    form->addRow(chkFlag4);

    auto* buttons = new QDialogButtonBox(this);
    auto* cmdContinue = buttons->addButton(QStringLiteral("&Continue"), QDialogButtonBox::AcceptRole);
    cmdContinue->setObjectName("cmdContinue");
    auto* cmdGoBack = buttons->addButton(QStringLiteral("&Go Back"), QDialogButtonBox::ResetRole);
    cmdGoBack->setObjectName("cmdGoBack");
    auto* cmdCancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cmdCancel->setObjectName("cmdCancel");
    connect(cmdContinue, &QPushButton::clicked, this, &EventPanelDialog::cmdContinue_Click);
    connect(cmdGoBack, &QPushButton::clicked, this, [this] {
        m_result = 4;
        done(QDialog::Rejected);
    });
    connect(cmdCancel, &QPushButton::clicked, this, [this] {
        m_result = 3;
        done(QDialog::Rejected);
    });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void EventPanelDialog::cmdContinue_Click()
{
    QString id = fromCodePage(m_event.text("BAEvent")).trimmed();
    if (m_option == 1 || (m_option == 4 && fromCodePage(m_newId).trimmed().isEmpty()))
        id = QString::fromStdString(m_store.allocateId());
    else if (m_option == 4)
        id = fromCodePage(m_newId).trimmed();

    EventRecord r = fromEventStruct(m_event);
    r.id = id.toStdString();
    r.entity = txtEntity->text().toStdString();
    r.runDay = spnRunDay->value();
    r.flag1 = chkFlag1->isChecked() ? "1" : "0";
    r.flag2 = chkFlag2->isChecked() ? "1" : "0";
    r.flag4 = chkFlag4->isChecked() ? "1" : "0";
    if (QString::fromStdString(r.type).trimmed().isEmpty())
        r.type = "ZUL";
    if (!m_store.put(r)) {
        QMessageBox::warning(
            this, windowTitle(),
            QStringLiteral("The event could not be saved: %1").arg(QString::fromStdString(m_store.lastError())));
        return;
    }
    m_event.SetField("BAEvent", platform::codePageFromUtf8(r.id));
    m_event.SetField("BAEntName", platform::codePageFromUtf8(r.entity));
    m_event.SetField("BARUNDAY", static_cast<std::int16_t>(r.runDay));
    m_event.SetField("BAFLAG1", r.flag1);
    m_event.SetField("BAFLAG2", r.flag2);
    m_event.SetField("BAFLAG4", r.flag4);
    m_result = 1;
    done(QDialog::Accepted);
}

std::int32_t EventPanel::ShowPanel(std::int32_t& OEventOption, com::EventStructPtr& EventStruct,
                                   std::int32_t& /*uLastPanelAction*/, std::string& sNewEventId)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        throw com::ComError(429, "The event panel needs the host's windows");
    EventPanelDialog dialog(m_store, OEventOption, com::use(EventStruct), sNewEventId, QApplication::activeWindow());
    dialog.exec();
    return dialog.result();
}

bool EventPanel::Delete_Event_From_Schedule(std::string eventId)
{
    return m_store.remove(fromCodePage(eventId).trimmed().toStdString());
}

} // namespace zul::host
