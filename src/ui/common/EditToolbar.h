#pragma once

#include <QList>
#include <functional>

class QAction;
class QToolBar;
class QWidget;

namespace zul::ui {

// The forms' toolbar "Toolbar1": button 1 a separator, then "cut", "copy" and
// "paste". Returns the toolbar; buttons receives them in order (index 0 is
// button 1), and a click reports the button's 1-based index.
QToolBar* makeEditToolbar(QWidget* owner, QList<QAction*>& buttons, const std::function<void(int)>& onClick);

} // namespace zul::ui
