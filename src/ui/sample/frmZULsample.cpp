#include "ui/sample/frmZULsample.h"

#include "com/HostComponents.h"
#include "com/ModuleState.h"
#include "ui/common/CodePage.h"
#include "ui/common/EditToolbar.h"
#include "ui_frmZULsample.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <utility>

namespace com = zul::com;
using com::moduleState;

namespace {

thread_local frmZULsample* t_form = nullptr;

constexpr int kTwipsPerInch = 1440;
// Where the viewer sits relative to the editor's top-left corner, in twips.
constexpr int kBelowEditor = 315;
constexpr int kLeftOfEditor = 200;

const QString kAboutWindows = QStringLiteral("&About Windows ZUL");
const QString kAboutAs400 = QStringLiteral("&About AS/400 ZUL");

int twipsToPixels(int twips, qreal dotsPerInch)
{
    return qRound(twips * dotsPerInch / kTwipsPerInch);
}

// The application's active form. A pop-up menu that has just closed (the
// sample menu) can still be the active window; it stands for its owner.
QWidget* activeForm()
{
    QWidget* active = QApplication::activeWindow();
    while (active && (active->windowType() == Qt::Popup || !active->isVisible()))
        active = active->parentWidget() ? active->parentWidget()->window() : nullptr;
    return active ? active : QApplication::activeModalWidget();
}

void report(const std::string& description)
{
    try {
        com::use(moduleState().oMsgService).HandleMessages({false, description, "D"});
    } catch (...) {
        // Nothing else can be told.
    }
}

} // namespace

frmZULsample& frmZULsample::instance()
{
    if (!t_form)
        t_form = new frmZULsample();
    return *t_form;
}

bool frmZULsample::isLoaded()
{
    return t_form != nullptr;
}

void frmZULsample::unloadInstance()
{
    if (!t_form || t_form->m_modal)
        return;
    delete std::exchange(t_form, nullptr);
}

frmZULsample::frmZULsample() : ui(std::make_unique<Ui::frmZULsample>())
{
    ui->setupUi(this);
    txtZULsample = ui->txtZULsample;
    LBLEditor = ui->LBLEditor;
    cmdabout = ui->cmdabout;

    Toolbar1 = zul::ui::makeEditToolbar(this, m_buttons, [this](int index) { Toolbar1_ButtonClick(index); });
    ui->layoutToolbar->addWidget(Toolbar1);

    connect(txtZULsample, &QPlainTextEdit::textChanged, this, &frmZULsample::txtZULsample_Change);
    txtZULsample->installEventFilter(this);
    txtZULsample->viewport()->installEventFilter(this);
    connect(cmdabout, &QPushButton::clicked, this, &frmZULsample::cmdabout_Click);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmZULsample::cmdCancel_Click);

    Form_Load();
}

frmZULsample::~frmZULsample()
{
    if (t_form == this)
        t_form = nullptr;
}

QAction* frmZULsample::toolbarButton(int index) const
{
    return index >= 1 && index <= m_buttons.size() ? m_buttons[index - 1] : nullptr;
}

void frmZULsample::showModal()
{
    if (m_unloaded)
        return;
    m_modal = true;
    exec();
    m_modal = false;
    if (m_unloaded)
        delete this;
}

QString frmZULsample::text() const
{
    return zul::ui::toCrLf(zul::ui::documentText(*txtZULsample->document()));
}

void frmZULsample::setText(const QString& crLfText)
{
    txtZULsample->setPlainText(zul::ui::fromCrLf(crLfText));
}

void frmZULsample::Form_Load()
{
    // Beside the editor, else centred on whatever window is active.
    QWidget* active = activeForm();
    if (active && active != this) {
        const QScreen* screen = active->screen();
        const QPoint at = active->pos();
        if (active->objectName() == QLatin1String("frmZULINF")) {
            move(at.x() - twipsToPixels(kLeftOfEditor, screen->logicalDotsPerInchX()),
                 at.y() + twipsToPixels(kBelowEditor, screen->logicalDotsPerInchY()));
        } else {
            const QSize outer = active->frameGeometry().size();
            const QSize own = frameGeometry().size();
            move(at.x() + (outer.width() - own.width()) / 2, at.y() + (outer.height() - own.height()) / 2);
        }
    }
    for (int i = 2; i <= 4; ++i)
        toolbarButton(i)->setEnabled(false);
}

void frmZULsample::Form_Unload()
{
    cmdCancel_Click();
}

void frmZULsample::unloadForm()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    if (t_form == this)
        t_form = nullptr;
    done(QDialog::Rejected);
    if (!m_modal)
        deleteLater();
}

void frmZULsample::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void frmZULsample::reject()
{
    cmdCancel_Click();
}

void frmZULsample::cmdCancel_Click()
{
    try {
        unloadForm();
    } catch (const std::exception& e) {
        report(e.what());
    }
}

void frmZULsample::cmdabout_Click()
{
    try {
        const QString caption = cmdabout->text();
        int first = 0;
        int last = 0;
        if (caption == kAboutWindows) {
            first = 1076;
            last = 1086;
        } else if (caption == kAboutAs400) {
            first = 1087;
            last = 1092;
        } else {
            return;
        }
        com::Args args{false};
        for (int n = first; n <= last; ++n)
            args.emplace_back(com::msg(n));
        args.emplace_back("D");
        com::use(moduleState().oMsgService).HandleMessages(args);
    } catch (const std::exception& e) {
        report(e.what());
    }
}

void frmZULsample::Toolbar1_ButtonClick(int index)
{
    // Cut and paste stay disabled: the viewer only gives text away.
    if (index != 3)
        return;
    txtZULsample->setFocus(Qt::OtherFocusReason);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QCoreApplication::sendEvent(txtZULsample, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_C, Qt::ControlModifier);
    QCoreApplication::sendEvent(txtZULsample, &release);
}

void frmZULsample::FollowSelection()
{
    toolbarButton(3)->setEnabled(!txtZULsample->textCursor().selectedText().isEmpty());
}

void frmZULsample::txtZULsample_Change()
{
    FollowSelection();
}

void frmZULsample::txtZULsample_KeyUp()
{
    FollowSelection();
}

void frmZULsample::txtZULsample_MouseUp()
{
    FollowSelection();
}

bool frmZULsample::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtZULsample && event->type() == QEvent::KeyRelease) {
        txtZULsample_KeyUp();
    } else if (watched == txtZULsample->viewport() && event->type() == QEvent::MouseButtonRelease) {
        // A click inside a selection clears it only as the button comes up, so
        // look once the box has handled the release.
        QTimer::singleShot(0, this, &frmZULsample::txtZULsample_MouseUp);
    }
    return QDialog::eventFilter(watched, event);
}
