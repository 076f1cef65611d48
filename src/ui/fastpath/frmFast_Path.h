#pragma once

#include "com/HostComponents.h"

#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace Ui {
class frmFast_Path;
}

// "File Send/Receive - Fast Path": builds a one-file send or receive script
// from an address, a login and two paths, remembering earlier entries in the
// host's FastZUL table. Loaded on construction; unloaded by Cancel, Generate
// Script or closing the window.
class frmFast_Path : public QDialog {
    Q_OBJECT

public:
    // Where Generate Script puts the script: the dialog knows nothing of the
    // form that opened it.
    using ScriptTaker = std::function<void(const std::string& script)>;

    explicit frmFast_Path(ScriptTaker takeScript, QWidget* parent = nullptr);
    ~frmFast_Path() override;

    // Shows the dialog modally until it is unloaded.
    void showModal();

    // The classic key code of Delete, the one key the lists react to.
    static constexpr int vbKeyDelete = 46;

public slots:
    void cmdGenScpt_Click();
    void cmdRunNow_Click();
    void cmdCancel_Click();
    void cmdBrowseSnd_Click();
    void cmdBrowseRcv_Click();
    void optSnd_GotFocus();
    void optRcv_GotFocus();
    void txtPWD_GotFocus();
    void cmbUsrID_Click();
    void cmbPtnIPAdr_Change();

public:
    // KeyAscii is set to 0 to drop the character.
    void cmbPtnIPAdr_KeyPress(int& KeyAscii);
    void cmbPtnIPAdr_KeyDown(int KeyCode, int Shift);
    void cmbUsrID_KeyDown(int KeyCode, int Shift);
    void cmbSndPath_KeyDown(int KeyCode, int Shift);
    void cmbRcvPath_KeyDown(int KeyCode, int Shift);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void Form_Load();
    void Form_Unload();
    bool CheckRequiredEntries();
    void SaveRememberedEntries();
    std::string BuildScript() const;

    void loadRememberedLists();
    void reloadPathLists(const char* sendCode, const char* receiveCode);
    void placeOverActiveForm();
    void browseInto(QComboBox* box);
    void forgetListItem(QComboBox* box, const std::string& code, const std::string& value,
                        const std::optional<std::string>& second);
    void reportHandlerFailure(const std::exception& error);
    void setHourglass(bool on);
    void unloadForm();

    // The list entry the box's text was chosen from; -1 once it is typed over.
    int listIndex(const QComboBox* box) const;
    void appendListItem(QComboBox* box, const std::string& item);
    void clearBox(QComboBox* box);
    void setBoxText(QComboBox* box, const QString& text);
    void removeListItem(QComboBox* box, int index);

    std::unique_ptr<Ui::frmFast_Path> ui;
    ScriptTaker m_takeScript;
    QComboBox* cmbPtnIPAdr = nullptr;
    QComboBox* cmbUsrID = nullptr;
    QComboBox* cmbSndPath = nullptr;
    QComboBox* cmbRcvPath = nullptr;
    QLineEdit* txtPWD = nullptr;
    QCheckBox* chkIPSav = nullptr;
    QCheckBox* chkUsrPwd = nullptr;
    QCheckBox* chkSndSav = nullptr;
    QCheckBox* chkRcvSav = nullptr;
    QRadioButton* optSnd = nullptr;
    QRadioButton* optRcv = nullptr;
    QGroupBox* FrameSend = nullptr;
    QGroupBox* FrameReceive = nullptr;

    std::shared_ptr<zul::com::IZembDB> oFastDB;
    std::map<const QComboBox*, int> m_listIndex;
    // The file dialog's name, kept between browses like the control's.
    QString m_chosenFileName;
    bool m_hourglass = false;
    bool m_unloaded = false;
};
