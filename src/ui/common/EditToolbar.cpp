#include "ui/common/EditToolbar.h"

#include <QAction>
#include <QIcon>
#include <QToolBar>

namespace zul::ui {

QToolBar* makeEditToolbar(QWidget* owner, QList<QAction*>& buttons, const std::function<void(int)>& onClick)
{
    auto* toolbar = new QToolBar(owner);
    toolbar->setObjectName("Toolbar1");
    buttons.clear();
    // Button 1 is a separator by index only: at the left edge it would draw a
    // stray line before "Cut".
    buttons << toolbar->addSeparator();
    buttons.back()->setVisible(false);
    const struct {
        const char* key;
        const char* tip;
        const char* icon;
    } tools[] = {{"cut", "Cut", "edit-cut"}, {"copy", "Copy", "edit-copy"}, {"paste", "Paste", "edit-paste"}};
    for (const auto& t : tools) {
        QAction* a = toolbar->addAction(QIcon::fromTheme(QString::fromLatin1(t.icon)), QString::fromLatin1(t.tip));
        a->setObjectName(QString::fromLatin1(t.key));
        a->setToolTip(QString::fromLatin1(t.tip));
        const int index = static_cast<int>(buttons.size()) + 1;
        QObject::connect(a, &QAction::triggered, owner, [onClick, index] { onClick(index); });
        buttons << a;
    }
    return toolbar;
}

} // namespace zul::ui
