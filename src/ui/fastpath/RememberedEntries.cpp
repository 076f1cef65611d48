// The dialog's memory of earlier entries: the FastZUL table of the host's
// database, offered again as the lists of the four boxes.
#include "ui/fastpath/frmFast_Path.h"

#include "com/ModFTP1.h"
#include "com/Registry.h"
#include "platform/Text.h"
#include "ui/common/CodePage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

namespace com = zul::com;
namespace platform = zul::platform;

namespace {

// The walk index is 16 bits wide.
std::int16_t lastIndex(com::IZembDB& db)
{
    const std::int32_t last = db.RecordCount("FastZUL") - 1;
    if (last < INT16_MIN || last > INT16_MAX)
        throw com::ComError(6, "Overflow");
    return static_cast<std::int16_t>(last);
}

std::string boxText(const QComboBox* box)
{
    return zul::ui::toCodePage(box->currentText());
}

bool isChecked(const QCheckBox* box)
{
    return box->checkState() == Qt::Checked;
}

} // namespace

void frmFast_Path::loadRememberedLists()
{
    for (QComboBox* box : {cmbPtnIPAdr, cmbUsrID, cmbSndPath, cmbRcvPath})
        clearBox(box);
    auto db = com::CreateObjectAs<com::IZembDB>(com::kDatabaseProgId);
    if (!db)
        throw com::ComError(429, std::string("Cannot create the component ") + com::kDatabaseProgId);
    oFastDB = std::move(db);

    const int last = lastIndex(*oFastDB);
    for (int i = 0; i <= last; ++i) {
        std::int16_t index = static_cast<std::int16_t>(i);
        oFastDB->GetRecord("FastZUL", index);
        const std::string code = oFastDB->FACODE();
        QComboBox* box = code == "IP"   ? cmbPtnIPAdr
                         : code == "US" ? cmbUsrID
                         : code == "SS" ? cmbSndPath
                         : code == "SR" ? cmbRcvPath
                                        : nullptr;
        if (box)
            appendListItem(box, oFastDB->FAFLDONE());
    }
}

void frmFast_Path::optSnd_GotFocus()
{
    FrameSend->setTitle(QStringLiteral("File To Be Sent To From The Local Computer"));
    FrameReceive->setTitle(QStringLiteral("File To Be Received At The Partner Computer"));
    reloadPathLists("SS", "SR");
}

void frmFast_Path::optRcv_GotFocus()
{
    FrameSend->setTitle(QStringLiteral("File To Be Collected From The Partner Computer"));
    FrameReceive->setTitle(QStringLiteral("Receive Locally As"));
    reloadPathLists("RS", "RR");
}

// Whatever was typed in the path boxes goes with their old lists.
void frmFast_Path::reloadPathLists(const char* sendCode, const char* receiveCode)
{
    try {
        clearBox(cmbSndPath);
        clearBox(cmbRcvPath);
        auto& db = com::use(oFastDB);
        const int last = lastIndex(db);
        for (int i = 0; i <= last; ++i) {
            std::int16_t index = static_cast<std::int16_t>(i);
            db.GetRecord("FastZUL", index);
            const std::string code = platform::trim(db.FACODE());
            if (code == sendCode)
                appendListItem(cmbSndPath, db.FAFLDONE());
            else if (code == receiveCode)
                appendListItem(cmbRcvPath, db.FAFLDONE());
        }
    } catch (const std::exception& e) {
        ModFTP1::reportFailure(e.what());
    }
}

// Adds what is not yet remembered. A failure ends it quietly: the caller goes
// on with its script either way.
void frmFast_Path::SaveRememberedEntries()
{
    try {
        auto& db = com::use(oFastDB);
        const auto remember = [&db](const std::string& code, const std::string& one, const std::string& two) {
            db.setFACODE(code);
            db.setFAFLDONE(one);
            db.setFAFLDTWO(two);
            db.AddRecord("fastzul");
            db.ResetVar();
        };

        if (isChecked(chkIPSav)) {
            const std::string address = boxText(cmbPtnIPAdr);
            if (!db.SeekByAllPKeys("fastzul", "IP", address, "0"))
                remember("IP", platform::trim(address), "0");
        }
        if (isChecked(chkUsrPwd)) {
            const std::string user = platform::trim(boxText(cmbUsrID));
            // The first password stored for a user id stays its remembered one.
            if (!db.SeekByAllPKeys("fastzul", std::nullopt, user, "") || db.FACODE() != "US") {
                const std::string password = platform::trim(zul::ui::toCodePage(txtPWD->text()));
                remember("US", user, password.empty() ? " " : password);
            }
        }
        if (isChecked(chkSndSav)) {
            const std::string code = optSnd->isChecked() ? "SS" : "RS";
            const std::string path = platform::trim(boxText(cmbSndPath));
            if (!db.SeekByAllPKeys("fastzul", code, path, "0"))
                remember(code, path, "0");
        }
        if (isChecked(chkRcvSav)) {
            const std::string code = optRcv->isChecked() ? "RR" : "SR";
            const std::string path = platform::trim(boxText(cmbRcvPath));
            if (!db.SeekByAllPKeys("fastzul", code, path, "0"))
                remember(code, path, "0");
        }
    } catch (...) {
    }
}

void frmFast_Path::forgetListItem(QComboBox* box, const std::string& code, const std::string& value,
                                  const std::optional<std::string>& second)
{
    try {
        auto& db = com::use(oFastDB);
        if (!db.SeekByAllPKeys("FastZUL", code, value, second.value_or("")))
            return;
        db.DeleteRecBySearch("FastZUL", code, value, second);
        removeListItem(box, listIndex(box));
        if (box == cmbUsrID)
            txtPWD->setText(QString());
    } catch (const std::exception& e) {
        ModFTP1::reportFailure(e.what());
    }
}

void frmFast_Path::cmbPtnIPAdr_KeyDown(int KeyCode, int)
{
    if (KeyCode == vbKeyDelete && listIndex(cmbPtnIPAdr) >= 0)
        forgetListItem(cmbPtnIPAdr, "IP", boxText(cmbPtnIPAdr), std::string("0"));
}

void frmFast_Path::cmbUsrID_KeyDown(int KeyCode, int)
{
    // Every record of the user id goes, whatever its password.
    if (KeyCode == vbKeyDelete && listIndex(cmbUsrID) >= 0)
        forgetListItem(cmbUsrID, "US", platform::trim(boxText(cmbUsrID)), std::nullopt);
}

void frmFast_Path::cmbSndPath_KeyDown(int KeyCode, int)
{
    if (KeyCode == vbKeyDelete && listIndex(cmbSndPath) >= 0)
        forgetListItem(cmbSndPath, optSnd->isChecked() ? "SS" : "RS", platform::trim(boxText(cmbSndPath)),
                       std::string("0"));
}

void frmFast_Path::cmbRcvPath_KeyDown(int KeyCode, int)
{
    if (KeyCode == vbKeyDelete && listIndex(cmbRcvPath) >= 0)
        forgetListItem(cmbRcvPath, optRcv->isChecked() ? "RR" : "SR", platform::trim(boxText(cmbRcvPath)),
                       std::string("0"));
}

void frmFast_Path::cmbUsrID_Click()
{
    if (listIndex(cmbUsrID) < 0)
        return;
    try {
        auto& db = com::use(oFastDB);
        if (db.SeekByAllPKeys("FastZUL", "US", platform::trim(boxText(cmbUsrID)), ""))
            txtPWD->setText(zul::ui::fromCodePage(db.FAFLDTWO()));
    } catch (...) {
        // The password box keeps what it has.
    }
}
