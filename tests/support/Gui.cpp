#include "support/Gui.h"

#include <QApplication>
#include <QTimer>
#include <memory>

namespace zul::test {

QWidget* activeModal(const QString& objectName)
{
    QWidget* w = QApplication::activeModalWidget();
    return w && w->isVisible() && (objectName.isEmpty() || w->objectName() == objectName) ? w : nullptr;
}

Answer modal(const QString& objectName, std::function<void(QWidget*)> act)
{
    return {objectName, [objectName] { return activeModal(objectName); }, std::move(act)};
}

Answer popupMenu(std::function<void(QMenu*)> act)
{
    return {QStringLiteral("menu"),
            []() -> QWidget* {
                auto* m = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                return m && m->isVisible() ? m : nullptr;
            },
            [act = std::move(act)](QWidget* w) { act(static_cast<QMenu*>(w)); }};
}

namespace {
void closeOpenWindows()
{
    if (QWidget* p = QApplication::activePopupWidget())
        p->close();
    if (QWidget* m = QApplication::activeModalWidget())
        m->close();
}
} // namespace

bool whenModal(const QList<Answer>& answers, const std::function<void()>& trigger)
{
    // Each poll is a fresh single shot set before acting, so polling goes on inside the loops the answers open.
    struct State {
        QList<Answer> answers;
        qsizetype next = 0;
        int running = 0;
        int waited = 0;
        bool done = false;
        QStringList problems;
        std::function<void()> poll;
    };
    auto state = std::make_shared<State>();
    state->answers = answers;
    std::weak_ptr<State> weak = state;
    state->poll = [weak] {
        auto s = weak.lock();
        if (!s || s->done)
            return;
        QTimer::singleShot(5, s->poll);
        if (s->next < s->answers.size()) {
            if (QWidget* w = s->answers[s->next].find()) {
                s->waited = 0;
                ++s->running;
                s->answers[s->next++].act(w);
                --s->running;
            } else if (++s->waited > 4000) {
                s->problems << s->answers[s->next++].what + " never appeared";
                closeOpenWindows(); // unblock the handler
            }
        } else if (s->running == 0 && (QApplication::activePopupWidget() || activeModal(QString()))) {
            QWidget* w = QApplication::activePopupWidget() ? QApplication::activePopupWidget() : activeModal(QString());
            s->problems << QString::fromLatin1(w->metaObject()->className()) + " appeared unasked";
            closeOpenWindows();
        }
    };
    QTimer::singleShot(0, state->poll);
    trigger();
    state->done = true;
    for (; state->next < state->answers.size(); ++state->next)
        state->problems << state->answers[state->next].what + " never appeared";
    if (!state->problems.isEmpty())
        qWarning("%s", qPrintable(state->problems.join(QStringLiteral("; "))));
    const bool ok = state->problems.isEmpty();
    state->poll = nullptr; // breaks the cycle; pending shots find nothing
    return ok;
}

bool noWindowLeftOpen()
{
    QStringList open;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
            open << QString::fromLatin1(w->metaObject()->className()) + " " + w->objectName();
    if (!open.isEmpty())
        qWarning("left open: %s", qPrintable(open.join(QStringLiteral(", "))));
    return open.isEmpty();
}

} // namespace zul::test
