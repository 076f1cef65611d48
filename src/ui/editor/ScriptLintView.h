#pragma once

#include "ftpscript/Lint.h"

#include <QObject>
#include <QString>
#include <map>
#include <vector>

class QBoxLayout;
class QLabel;
class QPlainTextEdit;
class QTimer;
class QWidget;

namespace zul::ui {

class ScriptHighlighter;

// The script box's aids while typing: colours, line numbers in a gutter, and
// the lint's findings as wavy underlines with tooltips and one status line
// under the box. The lint runs once typing pauses, never on a key stroke.
// Nothing here changes the text.
class ScriptLintView : public QObject {
    Q_OBJECT

public:
    // Adds the status line to layout, right under box.
    ScriptLintView(QPlainTextEdit* box, QBoxLayout* layout);

    static constexpr int PauseMs = 400;

    const std::vector<ftpscript::Diagnostic>& diagnostics() const { return m_found; }
    // Lints at once instead of after the pause.
    void lintNow();
    int lintRuns() const { return m_runs; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class LineGutter;
    int gutterWidth() const;
    void placeGutter();
    void paintGutter(QWidget* gutter, const QRect& area);

    QPlainTextEdit* m_box;
    ScriptHighlighter* m_highlighter;
    QWidget* m_gutter;
    QLabel* m_status;
    QTimer* m_pause;
    std::vector<ftpscript::Diagnostic> m_found;
    std::map<int, QString> m_tips; // by 1-based line
    std::map<int, ftpscript::Severity> m_marks;
    int m_runs = 0;
    bool m_marking = false;
};

} // namespace zul::ui
