#include "host/GuiPresenter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>

namespace zul::host {

void GuiPresenter::display(const std::string& text)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Scheduled Events"), QString::fromStdString(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName("hostMessage");
    box.exec();
}

bool GuiPresenter::confirm(const std::string& title, const std::string& text)
{
    QMessageBox box(QMessageBox::Question, QString::fromStdString(title), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setObjectName("hostConfirm");
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

com::HostHooks guiHooks()
{
    com::HostHooks hooks;
    hooks.yield = [] {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
    };
    hooks.defaultPointer = [] {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            while (QGuiApplication::overrideCursor())
                QGuiApplication::restoreOverrideCursor();
    };
    return hooks;
}

} // namespace zul::host
