// The editor's view and fetch buttons: existing scripts and samples shown in
// the sample viewer.
#include "com/HostComponents.h"
#include "com/ModuleState.h"
#include "platform/AppPath.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "ui/common/CodePage.h"
#include "ui/common/FileChooser.h"
#include "ui/editor/frmZULINF.h"
#include "ui/sample/frmZULsample.h"
#include "ui_frmZULINF.h"

#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <cstdint>
#include <limits>

namespace com = zul::com;
namespace platform = zul::platform;

namespace {

// An event script's receipt marker line: "**", a five-character event id, a
// two-digit ordinal and "=&" come before the target, "&" after it.
constexpr std::size_t kMarkerHead = 11;
// Where the blank after a GET command's remote name is looked for.
constexpr std::size_t kRemoteNameEnd = 7;

void report(const std::string& description)
{
    try {
        com::use(com::moduleState().oMsgService).HandleMessages({false, description, "D"});
    } catch (...) {
        // Nothing else can be told.
    }
}

bool isGetLine(const std::string& line)
{
    return platform::upper(platform::left(platform::trim(line), 3)) == "GET";
}

// T becomes trim(T) before every addition: blanks at its ends go, its last
// CR LF stays. Done in place, as T can hold tens of thousands of lines.
void trimInPlace(std::string& text)
{
    const std::size_t last = text.find_last_not_of(' ');
    if (last == std::string::npos) {
        text.clear();
        return;
    }
    text.erase(last + 1);
    text.erase(0, text.find_first_not_of(' '));
}

void addLine(std::string& text, const std::string& line)
{
    trimInPlace(text);
    text += line;
    text += platform::CRLF;
}

// The display text of a script: lines trimmed, and each GET line joined with
// the line after it (its receipt marker in an event script) into the form the
// user typed. text holds what was built so far also when this fails.
platform::Status buildViewText(const std::vector<std::string>& lines, std::string& text)
{
    const std::size_t n = lines.size();
    std::size_t i = 0;
    while (i < n) {
        const std::string& line = lines[i];
        if (!isGetLine(line)) {
            addLine(text, platform::trim(line));
            ++i;
            continue;
        }
        if (i + 1 >= n)
            return platform::Error{platform::ErrorCode::InvalidArgument,
                                   "Line " + std::to_string(i + 1) +
                                       " is a GET command, and there is no line after it to take its target from."};
        const std::size_t blank = platform::instr(kRemoteNameEnd, line, " ");
        const std::string head = platform::trim(platform::left(platform::trim(line), blank));
        const std::string marker = platform::trim(lines[i + 1]);
        if (marker.size() < kMarkerHead + 1)
            return platform::Error{platform::ErrorCode::InvalidArgument,
                                   "Line " + std::to_string(i + 2) +
                                       ", after a GET command, is too short to hold the command's target."};
        const std::string target =
            platform::trim(platform::mid(marker, kMarkerHead + 1, marker.size() - kMarkerHead - 1));
        addLine(text, head + " " + target);
        i += 2;
    }
    return platform::success();
}

struct SampleKind {
    const char* file;
    const char* caption;
};

const SampleKind kSamples[] = {
    {"\\ZUL\\Winsmpl.smp", "ZUL Sample Script - Windows"},
    {"\\ZUL\\ASsmpl.smp", "ZUL Sample Script - AS/400"},
    {"\\ZUL\\Unixsmpl.smp", "ZUL Sample Script - Unix"},
    {"\\ZUL\\mainsmpl.smp", "ZUL Sample Script - Mainframe"},
};

} // namespace

void frmZULINF::cmdViewSCP_Click()
{
    try {
        zul::ui::OpenRequest request;
        request.fileName = QString();
        request.filter = QStringLiteral("Script Files(*.zul)|*.zul");
        request.initDir = QString::fromStdString(platform::appPath("\\ZUL\\"));
        request.title = QStringLiteral("Open");
        const QString chosen = zul::ui::fileChooser().showOpen(request, this);

        frmZULsample& viewer = frmZULsample::instance();
        viewer.setText(QString());
        if (chosen.isEmpty())
            return;

        auto lines = platform::readLines(QFile::encodeName(chosen).toStdString(), platform::Links::Follow);
        if (!lines) {
            report(lines.error().description);
            return;
        }
        if (lines->size() > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max())) {
            report("The script has more than 32,767 lines.");
            return;
        }
        std::string text;
        const platform::Status built = buildViewText(*lines, text);
        viewer.setText(zul::ui::fromCodePage(text));
        if (!built) {
            report(built.error().description);
            return;
        }
        viewer.LBLEditor->setText(QStringLiteral("ZUL Script:"));
        viewer.showModal();
    } catch (const std::exception& e) {
        report(e.what());
    }
}

void frmZULINF::cmdFETCHscp_Click()
{
    try {
        iSampleKind = 0;
        QPushButton* button = ui->cmdFETCHscp;
        mnnusample->exec(button->mapToGlobal(QPoint(button->width(), 0)));
        if (iSampleKind < 1 || iSampleKind > 4)
            return; // the menu was dismissed

        const SampleKind& kind = kSamples[iSampleKind - 1];
        // The samples are links to the package's own copies.
        auto lines = platform::readLines(platform::appPath(kind.file), platform::Links::Follow);
        if (!lines) {
            report(lines.error().description);
            return;
        }
        frmZULsample& viewer = frmZULsample::instance();
        viewer.setText(viewer.text() + zul::ui::fromCodePage(platform::joinCrLf(*lines)));
        const QString caption = QString::fromLatin1(kind.caption);
        switch (iSampleKind) {
        case 1:
            viewer.cmdabout->setVisible(true);
            viewer.cmdabout->setText(QStringLiteral("&About Windows ZUL"));
            viewer.setWindowTitle(caption);
            break;
        case 2:
            viewer.setWindowTitle(caption);
            viewer.cmdabout->setVisible(true);
            viewer.cmdabout->setText(QStringLiteral("&About AS/400 ZUL"));
            break;
        default:
            viewer.setWindowTitle(caption);
            break;
        }
        viewer.showModal();
    } catch (const std::exception& e) {
        report(e.what());
    }
}

void frmZULINF::mnuwinsmpl_Click()
{
    iSampleKind = 1;
}

void frmZULINF::mnuassmpl_Click()
{
    iSampleKind = 2;
}

void frmZULINF::mnuunsmpl_Click()
{
    iSampleKind = 3;
}

void frmZULINF::mnumainsmpl_Click()
{
    iSampleKind = 4;
}
