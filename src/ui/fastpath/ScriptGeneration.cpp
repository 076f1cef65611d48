// The dialog's two endings: the script handed to the editor, or run at once.
#include "ui/fastpath/frmFast_Path.h"

#include "com/ModFTP1.h"
#include "com/ModuleState.h"
#include "exec/Handover.h"
#include "exec/ModExecut.h"
#include "exec/Pinng.h"
#include "platform/Clock.h"
#include "platform/Text.h"
#include "platform/Yield.h"
#include "ui/common/CodePage.h"
#include "ui/common/RunConfirmation.h"
#include "ui/fastpath/TempScript.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

namespace com = zul::com;
namespace platform = zul::platform;
using com::moduleState;

namespace {

// The host's error for an object that has disconnected from its clients.
constexpr int kObjectDisconnected = static_cast<int>(0x80010108u);

std::string trimmedText(const QString& text)
{
    return platform::trim(zul::ui::toCodePage(text));
}

} // namespace

std::string frmFast_Path::BuildScript() const
{
    const std::string crlf(platform::CRLF);
    const std::string command = optSnd->isChecked() ? "put " : "get ";
    return "open " + trimmedText(cmbPtnIPAdr->currentText()) + crlf + "user " + trimmedText(cmbUsrID->currentText()) +
           " " + trimmedText(txtPWD->text()) + crlf + command + trimmedText(cmbSndPath->currentText()) + " " +
           trimmedText(cmbRcvPath->currentText()) + crlf + "quit";
}

void frmFast_Path::reportHandlerFailure(const std::exception& error)
{
    const auto* comError = dynamic_cast<const com::ComError*>(&error);
    try {
        auto& messages = com::use(moduleState().oMsgService);
        if (comError && comError->number() == kObjectDisconnected)
            messages.HandleMessages(
                {false, com::msg(3281), "D", std::string("Adding ZUL Type Event to the database failed.")});
        else
            messages.HandleMessages({false, std::string(error.what()), "D"});
    } catch (...) {
        // A report that fails has nowhere further to go.
    }
}

void frmFast_Path::cmdGenScpt_Click()
{
    try {
        if (!CheckRequiredEntries())
            return;
        SaveRememberedEntries();
        const std::string script = BuildScript();
        m_takeScript(script);
        unloadForm();
    } catch (const std::exception& e) {
        reportHandlerFailure(e);
    }
}

void frmFast_Path::cmdRunNow_Click()
{
    auto& ms = moduleState();
    ModFTP1::CreateMessageService();
    try {
        const auto now = platform::now();
        const std::string runTime = platform::formatHhMmSs(now);
        const std::string runDate = platform::formatMmDdYyyy(now);
        setHourglass(true);
        if (CheckRequiredEntries()) {
            SaveRememberedEntries();
            setHourglass(false);
            platform::yield();
            const std::string script = BuildScript();

            zul::ui::TempScriptUse use;
            {
                // A runner of another run may not have read the file yet.
                ModExecut::HandoverLock handover;
                handover.require();
                zul::ui::writeTempScript(script + std::string(platform::CRLF));
            }

            if (!zul::ui::confirmRun(com::use(ms.oMsgService), com::use(ms.oCurEvent)))
                return; // the entries and the file stay for another try

            setHourglass(false);
            platform::yield();
            const std::string address = trimmedText(cmbPtnIPAdr->currentText());
            platform::yield();
            if (Pinng::PingPartner(address)) {
                platform::yield();
                com::use(ms.oMsgService)
                    .HandleMessages(
                        {false, com::msg(4124), com::msg(4125), "L", "", "ZUL", "", runDate, runTime, "90", address});
                platform::yield();
                use.runnerStarting();
                try {
                    // Another process may have replaced the file since it was
                    // written: write it again under the hand-over lock, which
                    // stays until the runner has been handed the file.
                    ModExecut::HandoverLock handover;
                    handover.require();
                    zul::ui::writeTempScript(script + std::string(platform::CRLF));
                    ModExecut::ExpectScript(zul::ui::tempScriptPath(), script + std::string(platform::CRLF));
                    ModExecut::StartRunner(ModExecut::FormRunnerCommand(zul::ui::tempScriptPath(), "     "),
                                           &handover);
                } catch (...) {
                    use.runnerNotStarted();
                    throw;
                }
                platform::yield();
            } else {
                platform::yield();
                com::use(ms.oMsgService)
                    .HandleMessages({false, com::msg(4107), com::msg(4121), com::msg(4122), "L", "", "ZUL", "", runDate,
                                     runTime, "90", address});
            }
        }

        // Ready for the next transfer: the mode and the Save boxes stay.
        Form_Load();
        for (QComboBox* box : {cmbPtnIPAdr, cmbRcvPath, cmbSndPath, cmbUsrID})
            setBoxText(box, QString());
        txtPWD->setText(QString());
        setHourglass(false);
    } catch (const std::exception& e) {
        setHourglass(false);
        reportHandlerFailure(e);
    }
}
