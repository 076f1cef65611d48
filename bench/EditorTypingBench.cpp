// Types into a 30,000-line script in a script box with the editor's lint view
// (colours, gutter, lint after a pause) and in a plain box, in the same run,
// and prints the time per key stroke of each and their ratio. The lint itself
// runs after the typing, once, and is reported on its own.
#include "ui/editor/ScriptLintView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int ScriptLines = 30000;
constexpr int Keys = 400;
constexpr int Rounds = 5;

QString makeScript()
{
    QString s = "open sftp://partner.example.test\nuser bench secret\n";
    for (int i = 0; i < ScriptLines - 3; ++i)
        s += i % 3 ? QStringLiteral("get f%1.txt /app/Junction/E0001%2.txt\n").arg(i).arg(i % 90 + 10)
                   : QStringLiteral("cd /remote/area%1\n").arg(i);
    return s + "quit";
}

// Milliseconds per key stroke, typing in the middle of the script.
double typeInto(QPlainTextEdit* box)
{
    QTextCursor c(box->document()->findBlockByNumber(ScriptLines / 2));
    c.movePosition(QTextCursor::EndOfBlock);
    box->setTextCursor(c);
    QElapsedTimer t;
    t.start();
    for (int k = 0; k < Keys; ++k) {
        if (k % 20 == 0)
            QTest::keyClick(box, Qt::Key_Return);
        else
            QTest::keyClick(box, char('a' + k % 26));
    }
    return double(t.nsecsElapsed()) / 1e6 / Keys;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString script = makeScript();

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* plain = new QPlainTextEdit;
    auto* linted = new QPlainTextEdit;
    for (auto* b : {plain, linted}) {
        b->setLineWrapMode(QPlainTextEdit::NoWrap);
        layout->addWidget(b);
    }
    auto* view = new zul::ui::ScriptLintView(linted, layout);
    window.resize(640, 800);
    window.show();

    std::vector<double> plainMs, lintedMs, lintMs;
    for (int r = 0; r < Rounds; ++r) {
        plain->setPlainText(script);
        linted->setPlainText(script);
        view->lintNow();
        plainMs.push_back(typeInto(plain));
        lintedMs.push_back(typeInto(linted));
        QElapsedTimer t;
        t.start();
        view->lintNow();
        lintMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    const double p = median(plainMs), l = median(lintedMs);
    std::printf("script: %d lines, %d key strokes a round, %d rounds\n", ScriptLines, Keys, Rounds);
    std::printf("plain box             %7.3f ms a key\n", p);
    std::printf("box with lint view    %7.3f ms a key   ratio %.2f\n", l, l / p);
    std::printf("one lint after a pause %7.1f ms (not on any key stroke)\n", median(lintMs));
    return 0;
}
