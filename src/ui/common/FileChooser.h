#pragma once

#include <QString>
#include <memory>

class QFileDialog;
class QWidget;

namespace zul::ui {

// What the forms ask of a file-open dialog, in the order they set it.
struct OpenRequest {
    QString fileName; // initial name; "" for none
    QString filter;   // "Description|pattern" pairs, as the forms give them
    QString initDir;
    QString title;
};

// The forms choose files only through this, so tests can answer in advance.
class FileChooser {
public:
    virtual ~FileChooser();
    // The chosen file's full path, or "" when the user cancelled.
    virtual QString showOpen(const OpenRequest& request, QWidget* parent) = 0;
};

FileChooser& fileChooser();
// Installs a chooser; nullptr restores the standard dialog.
void setFileChooser(std::shared_ptr<FileChooser> chooser);

// "Script Files(*.zul)|*.zul" as a dialog's name filter, the patterns after
// the description: "Script Files(*.zul) (*.zul)"; "*.*" becomes "*".
QString toNameFilters(const QString& filter);

// The standard dialog set up for a request: it lists the descriptions as
// given ("All files(*.*)") and matches their patterns.
void configureOpenDialog(QFileDialog& dialog, const OpenRequest& request);

} // namespace zul::ui
