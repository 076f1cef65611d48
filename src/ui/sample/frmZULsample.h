#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <memory>

class QAction;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QToolBar;

namespace Ui {
class frmZULsample;
}

// The viewer in which the user reads a sample or an existing script and copies
// lines of it into the editor. One instance per thread, created and loaded on
// first use and destroyed once closed, so that the next use starts from the
// design settings.
class frmZULsample : public QDialog {
    Q_OBJECT

public:
    static frmZULsample& instance();
    static bool isLoaded();
    // Unloads the thread's instance if there is one; not while it is shown.
    static void unloadInstance();

    // Shows the viewer modally; it is unloaded when this returns.
    void showModal();

    // The text box's text with CR LF line ends, and its replacement.
    QString text() const;
    void setText(const QString& crLfText);

    QPlainTextEdit* txtZULsample = nullptr;
    QLabel* LBLEditor = nullptr;
    QPushButton* cmdabout = nullptr;
    QToolBar* Toolbar1 = nullptr;
    // Toolbar1's buttons by their 1-based index; 1 is the separator.
    QAction* toolbarButton(int index) const;

public slots:
    void cmdabout_Click();
    void cmdCancel_Click();
    void Toolbar1_ButtonClick(int index);
    void txtZULsample_Change();
    void txtZULsample_KeyUp();
    void txtZULsample_MouseUp();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    frmZULsample();
    ~frmZULsample() override;

    void Form_Load();
    void Form_Unload();
    void FollowSelection();
    void unloadForm();

    std::unique_ptr<Ui::frmZULsample> ui;
    QList<QAction*> m_buttons;
    bool m_unloaded = false;
    bool m_modal = false;
};
