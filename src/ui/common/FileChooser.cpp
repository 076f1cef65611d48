#include "ui/common/FileChooser.h"

#include <QFileDialog>
#include <QStringList>

namespace zul::ui {

FileChooser::~FileChooser() = default;

namespace {

class DialogChooser : public FileChooser {
public:
    QString showOpen(const OpenRequest& r, QWidget* parent) override
    {
        QFileDialog dialog(parent, r.title, r.initDir);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilter(toNameFilters(r.filter));
        if (!r.fileName.isEmpty())
            dialog.selectFile(r.fileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().first();
    }
};

std::shared_ptr<FileChooser>& current()
{
    static std::shared_ptr<FileChooser> c;
    return c;
}

} // namespace

FileChooser& fileChooser()
{
    if (!current())
        current() = std::make_shared<DialogChooser>();
    return *current();
}

void setFileChooser(std::shared_ptr<FileChooser> chooser)
{
    current() = std::move(chooser);
}

QString toNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i] + QStringLiteral(" (") + QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')) +
                   QLatin1Char(')');
    return out.join(QStringLiteral(";;"));
}

} // namespace zul::ui
