#include "host/GuiPresenter.h"

#include <QApplication>
#include <QMessageBox>

namespace zul::host {

void GuiPresenter::display(const QString& text)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Scheduled Events"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setObjectName("hostMessage");
    box.exec();
}

bool GuiPresenter::confirm(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
    box.setObjectName("hostConfirm");
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace zul::host
