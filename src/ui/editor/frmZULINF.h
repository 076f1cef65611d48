#pragma once

#include "com/HostComponents.h"

#include <QDialog>
#include <QList>
#include <memory>
#include <string>

class QAction;
class QMenu;
class QPlainTextEdit;
class QTimer;
class QToolBar;

namespace Ui {
class frmZULINF;
}

// The script editor panel. One instance per thread, created on first use and
// destroyed once unloaded, so that each use starts from the design settings.
class frmZULINF : public QDialog {
    Q_OBJECT

public:
    static frmZULINF& instance();
    static bool isLoaded();
    // Unloads the thread's instance if there is one (Form_Unload runs).
    static void unloadInstance();

    // Shows the panel modally; when it has been unloaded meanwhile, the
    // instance is gone afterwards.
    void showModal();

    std::string scriptText() const; // code page, CR LF lines
    void setScriptText(const std::string& text);

    // The read-only state of a Delete.
    void lockForDelete();

    void Delete_Event();

    QTimer* TMclipCheck = nullptr;
    QToolBar* Toolbar1 = nullptr;
    QMenu* mnnusample = nullptr;
    // Toolbar1's buttons by their 1-based index; 1 is the separator.
    QAction* toolbarButton(int index) const;

public slots:
    void cmdAdd_Click();
    void cmdRunNow_Click();
    void cmdCancel_Click();
    void TMclipCheck_Timer();
    void Toolbar1_ButtonClick(int index);
    void cmdViewSCP_Click();
    void cmdFETCHscp_Click();
    void cmdFastpath_Click();
    void mnuwinsmpl_Click();
    void mnuassmpl_Click();
    void mnuunsmpl_Click();
    void mnumainsmpl_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    frmZULINF();
    ~frmZULINF() override;

    void Form_Load();
    void Form_Unload();
    void CommitPanelAction();
    void ContinueToEventPanel();
    void ClearEditor();
    bool CheckScript();
    void runCommitHandler(int badFileNameMessage);
    void unloadForm();
    // One tick's work; the load runs it without the yields.
    void refreshToolbar(bool yielding);

    std::unique_ptr<Ui::frmZULINF> ui;
    QPlainTextEdit* txtZUL = nullptr;
    QList<QAction*> m_buttons;
    std::shared_ptr<zul::com::IEventPanel> oEventPanel;
    bool m_unloaded = false;
    // The sample menu's choice, 0 for none.
    std::int16_t iSampleKind = 0;
};
