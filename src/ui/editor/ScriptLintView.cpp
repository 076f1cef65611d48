#include "ui/editor/ScriptLintView.h"

#include "ui/common/CodePage.h"
#include "ui/editor/ScriptHighlighter.h"

#include <QBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QToolTip>

namespace zul::ui {

namespace fs = zul::ftpscript;

class LineGutter : public QWidget {
public:
    LineGutter(ScriptLintView* view, QWidget* parent) : QWidget(parent), m_view(view) {}

protected:
    void paintEvent(QPaintEvent* e) override { m_view->paintGutter(this, e->rect()); }

private:
    ScriptLintView* m_view;
};

namespace {

// The viewport margin is the scroll area's own room for a gutter; it is
// protected, and the box is the form's, so it is reached through the base.
struct MarginAccess : QPlainTextEdit {
    static void setLeft(QPlainTextEdit* box, int left)
    {
        const auto set =
            static_cast<void (QAbstractScrollArea::*)(int, int, int, int)>(&MarginAccess::setViewportMargins);
        (box->*set)(left, 0, 0, 0);
    }
};

} // namespace

ScriptLintView::ScriptLintView(QPlainTextEdit* box, QBoxLayout* layout)
    : QObject(box), m_box(box), m_highlighter(new ScriptHighlighter(box->document())),
      m_gutter(new LineGutter(this, box)), m_status(new QLabel(box->window())), m_pause(new QTimer(this))
{
    setObjectName("lintView");
    m_gutter->setObjectName("lintGutter");
    m_status->setObjectName("lblLint");
    m_status->setTextFormat(Qt::PlainText);
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed); // a long message never widens the panel
    m_status->setText(QString::fromStdString(fs::summary({})));
    layout->insertWidget(layout->indexOf(box) + 1, m_status);

    m_pause->setObjectName("TMlint");
    m_pause->setSingleShot(true);
    m_pause->setInterval(PauseMs);
    connect(m_pause, &QTimer::timeout, this, &ScriptLintView::lintNow);
    connect(box->document(), &QTextDocument::contentsChanged, this, [this] {
        if (!m_marking) // redrawing the marks changes no text
            m_pause->start();
    });

    connect(box, &QPlainTextEdit::blockCountChanged, this, [this] { placeGutter(); });
    connect(box, &QPlainTextEdit::updateRequest, this, [this](const QRect& r, int dy) {
        if (dy)
            m_gutter->scroll(0, dy);
        else
            m_gutter->update(0, r.y(), m_gutter->width(), r.height());
    });
    box->installEventFilter(this);
    box->viewport()->installEventFilter(this);
    placeGutter();
}

void ScriptLintView::lintNow()
{
    m_pause->stop();
    ++m_runs;
    m_found = fs::lint(toCodePage(m_box->toPlainText())); // relative local names depend on the run's folder
    std::map<int, fs::Severity> marks;
    m_tips.clear();
    for (const auto& d : m_found) {
        auto [it, added] = marks.emplace(d.line, d.severity);
        if (!added && d.severity == fs::Severity::Error)
            it->second = d.severity;
        QString& tip = m_tips[d.line];
        tip += (tip.isEmpty() ? "" : "\n") + QString::fromLatin1(fs::severityName(d.severity)) + ": " +
               fromCodePage(d.message);
    }
    m_marks = marks;
    m_marking = true;
    m_highlighter->setMarks(std::move(marks));
    m_marking = false;
    m_status->setText(fromCodePage(fs::summary(m_found)));
    m_status->setStyleSheet(fs::hasErrors(m_found) ? QStringLiteral("color: #b00000") : QString());
    m_gutter->update();
}

int ScriptLintView::gutterWidth() const
{
    int digits = 1;
    for (int n = std::max(1, m_box->blockCount()); n >= 10; n /= 10)
        ++digits;
    return 8 + m_box->fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(digits, 3);
}

void ScriptLintView::placeGutter()
{
    const int w = gutterWidth();
    MarginAccess::setLeft(m_box, w);
    const QRect cr = m_box->contentsRect();
    m_gutter->setGeometry(cr.left(), cr.top(), w, cr.height());
    m_gutter->update();
}

void ScriptLintView::paintGutter(QWidget* gutter, const QRect& area)
{
    QPainter p(gutter);
    p.fillRect(area, gutter->palette().color(QPalette::Window));
    p.setFont(m_box->font());
    const int bottom = std::min(area.bottom(), m_box->viewport()->height());
    for (QTextBlock block = m_box->cursorForPosition(QPoint(0, 0)).block(); block.isValid(); block = block.next()) {
        const QRect r = m_box->cursorRect(QTextCursor(block));
        if (r.top() > bottom)
            break;
        if (r.bottom() < area.top())
            continue;
        const int line = block.blockNumber() + 1;
        const auto mark = m_marks.find(line);
        p.setPen(mark == m_marks.end()                 ? gutter->palette().color(QPalette::PlaceholderText)
                 : mark->second == fs::Severity::Error ? QColor(0xd0, 0x00, 0x00)
                                                       : QColor(0xc0, 0x80, 0x00));
        p.drawText(QRect(0, r.top(), gutter->width() - 4, r.height()), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(line));
    }
}

bool ScriptLintView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_box && event->type() == QEvent::Resize)
        placeGutter();
    // Compared by type first: events still arrive while the box is being destroyed.
    if (event->type() == QEvent::ToolTip && watched == m_box->viewport()) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const int line = m_box->cursorForPosition(help->pos()).blockNumber() + 1;
        const auto tip = m_tips.find(line);
        if (tip != m_tips.end())
            QToolTip::showText(help->globalPos(), tip->second, m_box->viewport());
        else
            QToolTip::hideText();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace zul::ui
