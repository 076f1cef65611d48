#include "host/TranscriptViewer.h"

#include "platform/SafeOpen.h"

#include "host/CodePage.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSyntaxHighlighter>
#include <QVBoxLayout>
#include <fcntl.h>

namespace zul::host {

namespace {

// More than this is shown from its end: the end says how the run went.
constexpr qint64 kMaxShown = 8 * 1024 * 1024;

// Transcript lines are "hh:mm:ss.mmm T text": T is '>' sent, '<' received,
// '!' an error, '*' a note, '#' a script line.
class TranscriptHighlighter : public QSyntaxHighlighter {
public:
    using QSyntaxHighlighter::QSyntaxHighlighter;

protected:
    void highlightBlock(const QString& text) override
    {
        if (text.size() < 14 || text[12] != QLatin1Char(' '))
            return;
        QTextCharFormat f;
        switch (text[13].unicode()) {
        case '!':
            f.setForeground(QColor(0xb0, 0x00, 0x00));
            f.setFontWeight(QFont::Bold);
            break;
        case '>':
            f.setForeground(QColor(0x00, 0x40, 0xa0));
            break;
        case '#':
            f.setForeground(QColor(0x60, 0x60, 0x60));
            break;
        default:
            return;
        }
        setFormat(0, int(text.size()), f);
    }
};

} // namespace

TranscriptViewer::TranscriptViewer(const history::Run& run, const QString& path, QWidget* parent) : QDialog(parent)
{
    setObjectName("frmTranscript");
    setWindowTitle(QStringLiteral("Transcript - %1 %2")
                       .arg(run.event.empty() ? QStringLiteral("Fast Path") : QString::fromStdString(run.event),
                            QString::fromStdString(history::shownTime(run.start))));

    lblRun = new QLabel(this);
    lblRun->setObjectName("lblRun");
    lblRun->setWordWrap(true);
    lblRun->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const QString word = QString::fromStdString(history::resultWord(run.result));
    const QString outcome = QString::fromStdString(run.outcome);
    lblRun->setText(QStringLiteral("%1%2\n%3")
                        .arg(outcome.startsWith(word) ? outcome : word + QStringLiteral(": ") + outcome,
                             run.exitStatus ? QStringLiteral(" (exit status %1)").arg(*run.exitStatus) : QString(),
                             path.isEmpty() ? QString::fromStdString(run.transcript) : path));

    txtTranscript = new QPlainTextEdit(this);
    txtTranscript->setObjectName("txtTranscript");
    txtTranscript->setReadOnly(true);
    txtTranscript->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtTranscript->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    new TranscriptHighlighter(txtTranscript->document());

    QString text;
    QFile f;
    // The Log folder is shared by the group: never read through a link.
    auto fd = path.isEmpty() ? zul::platform::Result<zul::platform::UniqueFd>(zul::platform::UniqueFd())
                             : zul::platform::openNoFollow(QFile::encodeName(path).toStdString(), O_RDONLY);
    if (fd && fd->get() >= 0 && f.open(fd->get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        fd->release();
    if (path.isEmpty()) {
        text = run.source == history::Run::Source::Host
                   ? QStringLiteral("This run never reached the FTP runner, so it has no transcript.")
                   : QStringLiteral("The transcript is no longer there: transcripts are removed after the "
                                    "retention period.");
    } else if (!f.isOpen()) {
        text = QStringLiteral("Cannot read %1: %2")
                   .arg(path, fd ? f.errorString() : QString::fromStdString(fd.error().description));
    } else {
        QByteArray bytes;
        if (f.size() > kMaxShown) {
            f.seek(f.size() - kMaxShown);
            bytes = f.readAll();
            bytes = bytes.mid(bytes.indexOf('\n') + 1);
            text = QStringLiteral("(the first %1 MB are not shown)\n").arg((f.size() - bytes.size()) / 1000000);
        } else {
            bytes = f.readAll();
        }
        // The runner writes the script's own bytes: the 8-bit code page.
        text += fromCodePage(bytes.toStdString());
    }
    txtTranscript->setPlainText(text);
    txtTranscript->moveCursor(QTextCursor::End);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setObjectName("cmdClose");
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblRun);
    layout->addWidget(txtTranscript, 1);
    layout->addWidget(buttons);
    resize(820, 480);
}

} // namespace zul::host
