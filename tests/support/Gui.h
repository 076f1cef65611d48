#pragma once

#include <QList>
#include <QMenu>
#include <QString>
#include <QWidget>
#include <functional>

namespace zul::test {

// A named control; a missing one ends the run, as every later step would be meaningless.
template <typename T> T* child(const QObject* parent, const char* name)
{
    T* c = parent->findChild<T*>(QString::fromLatin1(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}
template <typename T> T* child(const QObject& parent, const char* name)
{
    return child<T>(&parent, name);
}

// A window that a handler opens and the test answers.
struct Answer {
    QString what;
    std::function<QWidget*()> find; // the window once it is up, else null
    std::function<void(QWidget*)> act;
};

QWidget* activeModal(const QString& objectName);
Answer modal(const QString& objectName, std::function<void(QWidget*)> act);
template <typename T> Answer modal(std::function<void(T*)> act)
{
    return {QString::fromLatin1(T::staticMetaObject.className()),
            [] { return qobject_cast<T*>(activeModal(QString())); }, [act](QWidget* w) { act(static_cast<T*>(w)); }};
}
Answer popupMenu(std::function<void(QMenu*)> act);

// Runs trigger and answers the windows it opens in order; false, with a warning, when one never came or came unasked.
bool whenModal(const QList<Answer>& answers, const std::function<void()>& trigger);

// True when no top-level window is visible; warns with their names otherwise.
bool noWindowLeftOpen();

} // namespace zul::test
