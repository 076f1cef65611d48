#pragma once

#include "host/history/RunLog.h"

#include <QDialog>

class QLabel;
class QPlainTextEdit;

namespace zul::host {

// A run's transcript, read-only: the lines the runner wrote, its errors
// marked, and a line that says how the run ended.
class TranscriptViewer : public QDialog {
    Q_OBJECT
public:
    // path: the transcript file as it is now; empty when it is gone.
    TranscriptViewer(const history::Run& run, const QString& path, QWidget* parent = nullptr);

    QPlainTextEdit* text() const { return txtTranscript; }

private:
    QLabel* lblRun;
    QPlainTextEdit* txtTranscript;
};

} // namespace zul::host
