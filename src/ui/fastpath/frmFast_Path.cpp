#include "ui/fastpath/frmFast_Path.h"

#include "com/ModFTP1.h"
#include "com/ModuleState.h"
#include "platform/AppPath.h"
#include "platform/Text.h"
#include "ui/common/CodePage.h"
#include "ui/common/FileChooser.h"
#include "ui_frmFast_Path.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <utility>

namespace com = zul::com;
namespace platform = zul::platform;
using com::moduleState;

namespace {

// The character a key press types, as the classic KeyPress event sees it;
// -1 for keys that type nothing.
int characterCode(const QKeyEvent* key)
{
    switch (key->key()) {
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape: // the dialog's cancel key comes first
        return -1;
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    default:
        break;
    }
    if (key->modifiers() & Qt::AltModifier)
        return -1;
    if ((key->modifiers() & Qt::ControlModifier) && key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z)
        return key->key() - Qt::Key_A + 1;
    const QString text = key->text();
    return text.isEmpty() ? -1 : text.at(0).unicode();
}

int shiftState(const QKeyEvent* key)
{
    int shift = 0;
    if (key->modifiers() & Qt::ShiftModifier)
        shift |= 1;
    if (key->modifiers() & Qt::ControlModifier)
        shift |= 2;
    if (key->modifiers() & Qt::AltModifier)
        shift |= 4;
    return shift;
}

} // namespace

frmFast_Path::frmFast_Path(ScriptTaker takeScript, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::frmFast_Path>()), m_takeScript(std::move(takeScript))
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    cmbPtnIPAdr = ui->cmbPtnIPAdr;
    cmbUsrID = ui->cmbUsrID;
    cmbSndPath = ui->cmbSndPath;
    cmbRcvPath = ui->cmbRcvPath;
    txtPWD = ui->txtPWD;
    chkIPSav = ui->chkIPSav;
    chkUsrPwd = ui->chkUsrPwd;
    chkSndSav = ui->chkSndSav;
    chkRcvSav = ui->chkRcvSav;
    optSnd = ui->optSnd;
    optRcv = ui->optRcv;
    FrameSend = ui->FrameSend;
    FrameReceive = ui->FrameReceive;

    for (QComboBox* box : {cmbPtnIPAdr, cmbUsrID, cmbSndPath, cmbRcvPath}) {
        // The lists offer values; they never complete, insert or choose on
        // their own (the box would otherwise pick a matching entry as the
        // focus leaves it, as if the user had chosen it).
        box->setCompleter(nullptr);
        disconnect(box->lineEdit(), &QLineEdit::editingFinished, box, nullptr);
        m_listIndex[box] = -1;
        connect(box, &QComboBox::currentIndexChanged, this, [this, box](int i) { m_listIndex[box] = i; });
        connect(box, &QComboBox::activated, this, [this, box](int i) { m_listIndex[box] = i; });
        connect(box->lineEdit(), &QLineEdit::textEdited, this, [this, box] { m_listIndex[box] = -1; });
        box->installEventFilter(this);
    }
    connect(cmbPtnIPAdr->lineEdit(), &QLineEdit::textChanged, this, &frmFast_Path::cmbPtnIPAdr_Change);
    cmbPtnIPAdr->lineEdit()->installEventFilter(this); // input method text may go to the edit itself
    connect(cmbUsrID, &QComboBox::activated, this, &frmFast_Path::cmbUsrID_Click);
    for (QWidget* w : {static_cast<QWidget*>(txtPWD), static_cast<QWidget*>(optSnd), static_cast<QWidget*>(optRcv)})
        w->installEventFilter(this);

    // Tab enters the mode group at its set button; the arrow keys move within it.
    const auto tabToSetButton = [this] {
        for (QRadioButton* b : {optSnd, optRcv})
            b->setFocusPolicy(b->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    };
    connect(optSnd, &QRadioButton::toggled, this, tabToSetButton);
    tabToSetButton();

    connect(ui->cmdGenScpt, &QPushButton::clicked, this, &frmFast_Path::cmdGenScpt_Click);
    connect(ui->cmdRunNow, &QPushButton::clicked, this, &frmFast_Path::cmdRunNow_Click);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmFast_Path::cmdCancel_Click);
    connect(ui->cmdBrowseSnd, &QPushButton::clicked, this, &frmFast_Path::cmdBrowseSnd_Click);
    connect(ui->cmdBrowseRcv, &QPushButton::clicked, this, &frmFast_Path::cmdBrowseRcv_Click);

    // A fixed dialog: its size is known before it is placed.
    adjustSize();
    setFixedSize(size());
    cmbPtnIPAdr->setFocus(Qt::OtherFocusReason);

    Form_Load();
}

frmFast_Path::~frmFast_Path()
{
    if (!m_unloaded) {
        m_unloaded = true;
        Form_Unload();
    }
    setHourglass(false);
}

void frmFast_Path::showModal()
{
    if (!m_unloaded)
        exec();
}

void frmFast_Path::Form_Load()
{
    try {
        loadRememberedLists();
        placeOverActiveForm();
    } catch (const std::exception& e) {
        ModFTP1::reportFailure(e.what());
    }
}

void frmFast_Path::Form_Unload()
{
    oFastDB.reset();
}

void frmFast_Path::unloadForm()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    Form_Unload();
    done(QDialog::Rejected);
}

void frmFast_Path::closeEvent(QCloseEvent* event)
{
    unloadForm();
    event->accept();
}

void frmFast_Path::reject()
{
    cmdCancel_Click();
}

void frmFast_Path::cmdCancel_Click()
{
    unloadForm();
}

// Centred over the form that is active as the dialog loads; on a reload that
// is the dialog itself, which then stays where it is.
void frmFast_Path::placeOverActiveForm()
{
    QWidget* active = QApplication::activeWindow();
    if (!active && parentWidget())
        active = parentWidget()->window();
    if (!active)
        return;
    const QRect a = active->frameGeometry();
    // Before it is first shown the dialog's frame is not known yet; it gets
    // the same decoration as the active form.
    QSize mine = frameGeometry().size();
    if (!isVisible())
        mine = size() + (a.size() - active->geometry().size());
    move(a.left() + (a.width() - mine.width()) / 2, a.top() + (a.height() - mine.height()) / 2);
}

bool frmFast_Path::CheckRequiredEntries()
{
    const struct {
        QComboBox* box;
        int message;
    } required[] = {{cmbPtnIPAdr, 3229}, {cmbUsrID, 3230}, {cmbSndPath, 3231}, {cmbRcvPath, 3231}};
    for (const auto& r : required) {
        if (platform::trim(zul::ui::toCodePage(r.box->currentText())).empty()) {
            com::use(moduleState().oMsgService).HandleMessages({false, com::msg(r.message), "D"});
            r.box->setFocus(Qt::OtherFocusReason);
            return false;
        }
    }
    return true;
}

void frmFast_Path::cmdBrowseSnd_Click()
{
    browseInto(cmbSndPath);
}

void frmFast_Path::cmdBrowseRcv_Click()
{
    browseInto(cmbRcvPath);
}

void frmFast_Path::browseInto(QComboBox* box)
{
    zul::ui::OpenRequest request;
    request.filter = QStringLiteral("All files(*.*)|*.*");
    request.title = QStringLiteral("ZUL Files Selection");
    // The root of the application folder's drive: up to its first separator.
    const std::string& app = platform::appFolder();
    const auto sep = app.find_first_of("/\\");
    request.initDir = sep == std::string::npos ? QString() : zul::ui::fromCodePage(app.substr(0, sep + 1));
    request.fileName = m_chosenFileName;
    const QString chosen = zul::ui::fileChooser().showOpen(request, this);
    if (!chosen.isEmpty())
        setBoxText(box, chosen);
    m_chosenFileName.clear();
}

void frmFast_Path::txtPWD_GotFocus()
{
    txtPWD->setSelection(0, static_cast<int>(txtPWD->text().size()));
}

bool frmFast_Path::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        // Coming back to the window is not a focus change of the control.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == optSnd) {
                optSnd_GotFocus();
            } else if (watched == optRcv) {
                optRcv_GotFocus();
            } else if (watched == txtPWD) {
                txtPWD_GotFocus();
                // A click places the caret after the focus arrives; select once it has.
                if (reason == Qt::MouseFocusReason)
                    QTimer::singleShot(0, this, [this] {
                        if (txtPWD->hasFocus())
                            txtPWD_GotFocus();
                    });
            }
        }
    } else if (event->type() == QEvent::InputMethod && (watched == cmbPtnIPAdr || watched == cmbPtnIPAdr->lineEdit())) {
        // What an input method commits (a dead key, compose, an on-screen
        // keyboard) arrives without key presses: each character passes the
        // key rule or is dropped.
        auto* im = static_cast<QInputMethodEvent*>(event);
        if (!im->commitString().isEmpty()) {
            QString kept;
            for (QChar c : im->commitString()) {
                int ascii = c.unicode();
                cmbPtnIPAdr_KeyPress(ascii);
                if (ascii != 0)
                    kept += c;
            }
            im->setCommitString(kept, im->replacementStart(), im->replacementLength());
        }
    } else if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const int code = key->key() == Qt::Key_Delete ? vbKeyDelete : 0;
        if (watched == cmbPtnIPAdr) {
            if (code)
                cmbPtnIPAdr_KeyDown(code, shiftState(key));
            int ascii = characterCode(key);
            if (ascii >= 0) {
                cmbPtnIPAdr_KeyPress(ascii);
                if (ascii == 0)
                    return true;
            }
        } else if (code && watched == cmbUsrID) {
            cmbUsrID_KeyDown(code, shiftState(key));
        } else if (code && watched == cmbSndPath) {
            cmbSndPath_KeyDown(code, shiftState(key));
        } else if (code && watched == cmbRcvPath) {
            cmbRcvPath_KeyDown(code, shiftState(key));
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmFast_Path::setHourglass(bool on)
{
    if (on == m_hourglass)
        return;
    m_hourglass = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

int frmFast_Path::listIndex(const QComboBox* box) const
{
    const auto it = m_listIndex.find(box);
    return it == m_listIndex.end() ? -1 : it->second;
}

void frmFast_Path::appendListItem(QComboBox* box, const std::string& item)
{
    const QString entry = zul::ui::fromCodePage(item);
    if (box->count() > 0) {
        box->addItem(entry);
        return;
    }
    // A box filled from empty would show its first entry; its text stays as it was.
    QLineEdit* edit = box->lineEdit();
    QSignalBlocker blockBox(box);
    QSignalBlocker blockEdit(edit);
    const QString text = edit->text();
    box->addItem(entry);
    box->setCurrentIndex(-1);
    edit->setText(text);
    m_listIndex[box] = -1;
}

void frmFast_Path::clearBox(QComboBox* box)
{
    box->clear();
    box->clearEditText();
    m_listIndex[box] = -1;
}

void frmFast_Path::setBoxText(QComboBox* box, const QString& text)
{
    box->setEditText(text);
    m_listIndex[box] = -1;
}

// The text and its selection stay, as the box had them; only the list loses
// the entry.
void frmFast_Path::removeListItem(QComboBox* box, int index)
{
    QLineEdit* edit = box->lineEdit();
    const QString text = edit->text();
    const int cursor = edit->cursorPosition();
    const int selStart = edit->selectionStart();
    const int selLength = static_cast<int>(edit->selectedText().size());
    {
        QSignalBlocker blockBox(box);
        QSignalBlocker blockEdit(edit);
        box->removeItem(index);
        box->setCurrentIndex(-1);
        edit->setText(text);
        if (selStart >= 0)
            edit->setSelection(selStart, selLength);
        else
            edit->setCursorPosition(cursor);
    }
    m_listIndex[box] = -1;
}
