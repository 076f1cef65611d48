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
        QFileDialog dialog(parent);
        configureOpenDialog(dialog, r);
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
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        // "*.*" lists every file, also one without a dot in its name.
        for (QString& p : patterns)
            if (p.trimmed() == QLatin1String("*.*"))
                p = QStringLiteral("*");
        out << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

void configureOpenDialog(QFileDialog& dialog, const OpenRequest& r)
{
    // The dialog's own widgets: the system's would match "*.*" by its letters.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The list shows each description as the form gives it; the patterns
    // appended for the dialog stay out of sight.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setWindowTitle(r.title);
    if (!r.initDir.isEmpty())
        dialog.setDirectory(r.initDir);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(toNameFilters(r.filter));
    if (!r.fileName.isEmpty())
        dialog.selectFile(r.fileName);
}

} // namespace zul::ui
