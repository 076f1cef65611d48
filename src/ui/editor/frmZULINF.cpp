#include "ui/editor/frmZULINF.h"

#include "com/Gamut.h"
#include "com/ModFTP1.h"
#include "com/ModuleState.h"
#include "com/Registry.h"
#include "exec/ModExecut.h"
#include "exec/ReceiptCleanup.h"
#include "exec/RunnerWatch.h"
#include "platform/AppPath.h"
#include "platform/Text.h"
#include "platform/Yield.h"
#include "scripts/FTPCode.h"
#include "ui/common/CodePage.h"
#include "ui/common/EditToolbar.h"
#include "ui/common/RunConfirmation.h"
#include "ui/editor/ScriptCheck.h"
#include "ui/editor/ScriptLintView.h"
#include "ui/editor/WorkCopyCleanup.h"
#include "ui_frmZULINF.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTimer>
#include <QToolBar>
#include <utility>

using zul::com::moduleState;
namespace com = zul::com;
namespace platform = zul::platform;

namespace {

thread_local frmZULINF* t_form = nullptr;

// The text box as the script check sees it: CR LF lines.
class TextBoxAccess : public zul::ui::ScriptBox {
public:
    explicit TextBoxAccess(QPlainTextEdit* box) : m_box(box) {}
    QString text() const override { return zul::ui::toCrLf(zul::ui::documentText(*m_box->document())); }
    void setText(const QString& text) override { m_box->setPlainText(zul::ui::fromCrLf(text)); }
    void focus() override
    {
        if (!m_box->isEnabled() || !m_box->isVisibleTo(m_box->window()))
            throw com::ComError(5, "Invalid procedure call or argument");
        m_box->setFocus(Qt::OtherFocusReason);
    }

private:
    QPlainTextEdit* m_box;
};

QString clipboardText()
{
    return QGuiApplication::clipboard()->text();
}

// The standard key stroke, handled by the box's own clipboard handling.
void sendControlKey(QWidget* target, Qt::Key key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::ControlModifier);
    QCoreApplication::sendEvent(target, &release);
}

} // namespace

frmZULINF& frmZULINF::instance()
{
    if (!t_form)
        t_form = new frmZULINF();
    return *t_form;
}

bool frmZULINF::isLoaded()
{
    return t_form != nullptr;
}

void frmZULINF::unloadInstance()
{
    if (!t_form)
        return;
    frmZULINF* form = std::exchange(t_form, nullptr);
    form->unloadForm();
    delete form;
}

frmZULINF::frmZULINF() : ui(std::make_unique<Ui::frmZULINF>())
{
    ui->setupUi(this);
    txtZUL = ui->txtZUL;
    QFont mono = txtZUL->font();
    mono.setStyleHint(QFont::Monospace);
    mono.setFixedPitch(true);
    txtZUL->setFont(mono);
    new zul::ui::ScriptLintView(txtZUL, ui->layoutMain);

    Toolbar1 = zul::ui::makeEditToolbar(this, m_buttons, [this](int index) { Toolbar1_ButtonClick(index); });
    ui->layoutToolbar->addWidget(Toolbar1);

    mnnusample = new QMenu(QStringLiteral("sampleaccess"), this);
    mnnusample->setObjectName("mnnusample");
    const struct {
        const char* name;
        const char* text;
        void (frmZULINF::*handler)();
    } items[] = {{"mnuwinsmpl", "Windows", &frmZULINF::mnuwinsmpl_Click},
                 {"mnuassmpl", "AS/400", &frmZULINF::mnuassmpl_Click},
                 {"mnuunsmpl", "Unix", &frmZULINF::mnuunsmpl_Click},
                 {"mnumainsmpl", "Mainframe", &frmZULINF::mnumainsmpl_Click}};
    for (const auto& item : items) {
        QAction* a = mnnusample->addAction(QString::fromLatin1(item.text));
        a->setObjectName(QString::fromLatin1(item.name));
        connect(a, &QAction::triggered, this, item.handler);
    }

    TMclipCheck = new QTimer(this);
    TMclipCheck->setObjectName("TMclipCheck");
    TMclipCheck->setInterval(200);
    connect(TMclipCheck, &QTimer::timeout, this, &frmZULINF::TMclipCheck_Timer);
    TMclipCheck->start();
    // The buttons are right from the start, not only from the first tick.
    try {
        refreshToolbar(false);
    } catch (...) {
    }

    connect(ui->cmdAdd, &QPushButton::clicked, this, &frmZULINF::cmdAdd_Click);
    connect(ui->cmdRunNow, &QPushButton::clicked, this, &frmZULINF::cmdRunNow_Click);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmZULINF::cmdCancel_Click);
    connect(ui->cmdViewSCP, &QPushButton::clicked, this, &frmZULINF::cmdViewSCP_Click);
    connect(ui->cmdFETCHscp, &QPushButton::clicked, this, &frmZULINF::cmdFETCHscp_Click);
    connect(ui->cmdFastpath, &QPushButton::clicked, this, &frmZULINF::cmdFastpath_Click);

    Form_Load();
}

frmZULINF::~frmZULINF()
{
    if (!m_unloaded) {
        m_unloaded = true;
        Form_Unload();
    }
    if (t_form == this)
        t_form = nullptr;
}

QAction* frmZULINF::toolbarButton(int index) const
{
    return index >= 1 && index <= m_buttons.size() ? m_buttons[index - 1] : nullptr;
}

void frmZULINF::showModal()
{
    exec();
    if (m_unloaded && t_form == this) {
        t_form = nullptr;
        delete this;
    }
}

std::string frmZULINF::scriptText() const
{
    return zul::ui::toCodePage(zul::ui::toCrLf(zul::ui::documentText(*txtZUL->document())));
}

void frmZULINF::setScriptText(const std::string& text)
{
    txtZUL->setPlainText(zul::ui::fromCrLf(zul::ui::fromCodePage(text)));
}

void frmZULINF::lockForDelete()
{
    TMclipCheck->stop();
    ui->cmdFastpath->setEnabled(false);
    for (int i = 2; i <= 4; ++i)
        toolbarButton(i)->setEnabled(false);
    txtZUL->setEnabled(false);
    ui->cmdAdd->setText(QStringLiteral("&Delete"));
    ui->cmdFETCHscp->setEnabled(false);
    ui->cmdRunNow->setEnabled(false);
    ui->cmdViewSCP->setEnabled(false);
}

void frmZULINF::Form_Load()
{
    oEventPanel = com::CreateObjectAs<com::IEventPanel>(com::kEventPanelProgId);
    if (!oEventPanel)
        return; // the create failed: the load ends here
    moduleState().uHostPanelAction = 1;
}

void frmZULINF::Form_Unload()
{
    zul::ui::deleteWorkCopyWhenFree();
    oEventPanel.reset();
}

void frmZULINF::unloadForm()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    TMclipCheck->stop();
    Form_Unload();
    done(QDialog::Rejected);
}

void frmZULINF::closeEvent(QCloseEvent* event)
{
    unloadForm();
    event->accept();
}

// Escape reaches a dialog as reject(). The panel has no cancel key: Escape
// must not throw the typed script away. Cancel and the title bar close it.
void frmZULINF::reject() {}

void frmZULINF::cmdCancel_Click()
{
    unloadForm();
}

void frmZULINF::cmdAdd_Click()
{
    moduleState().uPanelResult = static_cast<std::int32_t>(com::PnlAction::actContinue);
    runCommitHandler(3165);
}

void frmZULINF::cmdRunNow_Click()
{
    moduleState().uPanelResult = static_cast<std::int32_t>(com::PnlAction::actRun);
    runCommitHandler(2165);
}

void frmZULINF::runCommitHandler(int badFileNameMessage)
{
    try {
        if (CheckScript())
            CommitPanelAction();
    } catch (const std::exception& e) {
        const auto* ce = dynamic_cast<const com::ComError*>(&e);
        try {
            if (ce && ce->number() == 52)
                com::use(moduleState().oMsgService).HandleMessages({false, com::msg(badFileNameMessage), "D"});
            else
                com::use(moduleState().oMsgService).HandleMessages({false, std::string(e.what()), "D"});
        } catch (...) {
        }
    }
}

bool frmZULINF::CheckScript()
{
    TextBoxAccess box(txtZUL);
    return zul::ui::CheckScript(box);
}

void frmZULINF::CommitPanelAction()
{
    auto& ms = moduleState();
    try {
        ModFTP1::CreateMessageService();
        ModFTP1::StampEventType();
        if (ms.uPanelResult == 1) {
            if (ms.uEventOption != 3)
                ContinueToEventPanel();
            else
                Delete_Event();
            ms.bNeedRefresh = true;
            return;
        }
        if (ms.uPanelResult == 2) {
            auto& event = com::use(ms.oCurEvent);
            if (!zul::ui::confirmRun(com::use(ms.oMsgService), event))
                return;

            FTPCode::WriteWorkScript(scriptText());
            std::int32_t directRun = static_cast<std::int32_t>(com::RunMode::DirectExecution);
            if (ms.uEventOption == 2) {
                std::string id = event.text("BAEvent");
                FTPCode::BuildEventScript(id);
                ms.sRunScript = platform::appPath("\\ZUL\\" + event.text("BAEvent") + "ZUL.zul");
                ModExecut::RunEvent(directRun, ms.oCurEvent);
                ms.bNeedRefresh = true;
                return;
            }
            // The runner is handed the work copy itself: it goes once the runner is done with it.
            ms.sRunScript = platform::appPath("\\ZUL\\ZULTMP.zul");
            zul::ui::workCopyRunnerStarted();
            ModExecut::AfterNextRunnerExit([] { zul::ui::workCopyRunnerExited(); });
            try {
                ModExecut::RunEvent(directRun, ms.oCurEvent);
            } catch (...) {
                if (ModExecut::TakeAfterExitAction())
                    zul::ui::workCopyRunnerExited();
                throw;
            }
            if (ModExecut::TakeAfterExitAction()) // no runner was started
                zul::ui::workCopyRunnerExited();
            zul::ui::deleteWorkCopyWhenFree();
        }
        ms.bNeedRefresh = true;
    } catch (...) {
        // Ends quietly; the grid is not marked for refresh.
    }
}

void frmZULINF::ContinueToEventPanel()
{
    auto& ms = moduleState();
    try {
        FTPCode::WriteWorkScript(scriptText());
        ms.uHostPanelAction =
            com::use(oEventPanel).ShowPanel(ms.uEventOption, ms.oCurEvent, ms.uHostPanelAction, ms.sNewId);
        if (ms.uHostPanelAction == static_cast<std::int32_t>(com::PnlAction::actContinue)) {
            std::string id = com::use(ms.oCurEvent).text("BAEvent");
            FTPCode::BuildEventScript(id);
            std::string workCopy = platform::appPath("\\ZUL\\ZULTMP.zul");
            FTPCode::DeleteScriptFile(workCopy);
            if (ms.uEventOption == 1)
                ClearEditor();
            else
                unloadForm();
        } else if (ms.uHostPanelAction == static_cast<std::int32_t>(com::PnlAction::actcancel)) {
            unloadForm();
        }
    } catch (...) {
        // Ends quietly.
    }
}

void frmZULINF::Delete_Event()
{
    auto& ms = moduleState();
    try {
        auto panel = com::CreateObjectAs<com::IEventPanel>(com::kEventPanelProgId);
        const bool removed = com::use(panel).Delete_Event_From_Schedule(com::use(ms.oCurEvent).text("BAEvent"));
        if (removed) {
            std::string script = platform::appPath("\\ZUL\\" + com::use(ms.oCurEvent).text("BAEvent") + "ZUL.zul");
            FTPCode::DeleteScriptFile(script);
            // Its receipt records would never be read again.
            ModExecut::RemoveEventReceipts(com::use(ms.oCurEvent).text("BAEvent"));
            unloadForm();
        }
    } catch (...) {
        // Ends quietly.
    }
}

void frmZULINF::ClearEditor()
{
    txtZUL->setPlainText(QString());
}

void frmZULINF::TMclipCheck_Timer()
{
    try {
        refreshToolbar(true);
    } catch (...) {
        // The next tick tries again.
    }
}

void frmZULINF::refreshToolbar(bool yielding)
{
    const auto yieldIf = [yielding] {
        if (yielding)
            platform::yield();
    };
    yieldIf();
    const bool selected = !txtZUL->textCursor().selectedText().isEmpty();
    toolbarButton(2)->setEnabled(selected);
    toolbarButton(3)->setEnabled(selected);
    yieldIf();
    toolbarButton(4)->setEnabled(!clipboardText().isEmpty());
    yieldIf();
    if (moduleState().uEventOption == static_cast<std::int32_t>(com::EventAction::Delete))
        toolbarButton(4)->setEnabled(false);
}

void frmZULINF::Toolbar1_ButtonClick(int index)
{
    if (!txtZUL->isEnabled())
        return;
    const Qt::Key keys[] = {Qt::Key_X, Qt::Key_C, Qt::Key_V};
    if (index < 2 || index > 4)
        return;
    txtZUL->setFocus(Qt::OtherFocusReason);
    sendControlKey(txtZUL, keys[index - 2]);
    if (index != 4 && !clipboardText().isEmpty())
        toolbarButton(4)->setEnabled(true);
}
