// The editor's Fast Path button.
#include "ui/editor/frmZULINF.h"

#include "ui/fastpath/frmFast_Path.h"

#include <QPointer>

void frmZULINF::cmdFastpath_Click()
{
    try {
        // A new dialog for each use; the editor waits until it is unloaded.
        QPointer<frmFast_Path> dialog =
            new frmFast_Path([](const std::string& script) { instance().setScriptText(script); }, this);
        dialog->showModal();
        delete dialog.data();
    } catch (...) {
        // Ends without a message.
    }
}
