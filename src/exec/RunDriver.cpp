#include "exec/Handover.h"
#include "exec/ModExecut.h"
#include "exec/ModExecutState.h"
#include "exec/Pinng.h"
#include "exec/RunnerWatch.h"

#include "com/Diagnostics.h"
#include "com/ModuleState.h"
#include "platform/AppPath.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Pointer.h"
#include "platform/Process.h"
#include "platform/Text.h"
#include "platform/Yield.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>

namespace ModExecut {

namespace {

namespace platform = zul::platform;
using zul::com::ComError;
using zul::com::IEventStruct;
using zul::com::msg;
using zul::com::use;
using zul::com::Variant;

[[noreturn]] void raise(const platform::Error& error)
{
    throw ComError(static_cast<int>(error.code), error.description);
}

// Lines of the script joined with CR LF; the text so far is trimmed before
// each line is added, so leading blank lines vanish and a line's trailing
// blanks go once another line follows.
std::string readScriptText(const std::string& path)
{
    auto lines = platform::readLines(platform::trim(path));
    if (!lines)
        raise(lines.error());
    std::string text;
    for (const auto& line : *lines) {
        const auto last = text.find_last_not_of(' ');
        text.erase(last == std::string::npos ? 0 : last + 1);
        const auto first = text.find_first_not_of(' ');
        if (first != 0)
            text.erase(0, first);
        if (text.empty()) {
            text = line;
        } else {
            text += platform::CRLF;
            text += line;
        }
    }
    return text;
}

std::string partnerAddress(const std::string& script)
{
    const auto span = platform::partnerTextSpan(script, platform::CRLF);
    if (span.end == std::string::npos)
        throw ComError(5, "Invalid procedure call or argument");
    return script.substr(span.start, span.end - span.start);
}

bool flagSet(const IEventStruct& event, const char* name)
{
    return platform::trim(event.text(name)) == "1";
}

bool holdsNumber(const Variant& value)
{
    if (value.isNumber())
        return true;
    if (value.kind() != Variant::Kind::Text)
        return false;
    const std::string text = platform::trim(value.asText());
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size();
}

std::int16_t runDayOf(const IEventStruct& event)
{
    const Variant day = event.Field("BARUNDAY");
    if (const auto value = day.toInt16())
        return *value;
    if (holdsNumber(day))
        throw ComError(6, "Overflow");
    throw ComError(13, "Type mismatch");
}

} // namespace

bool RunEvent(std::int32_t& uRunMode, zul::com::EventStructPtr& oEvtStruct)
{
    auto& ms = zul::com::moduleState();
    const auto now = platform::now();
    ms.sRunTime = platform::formatHhMmSs(now);
    ms.sRunDate = platform::formatMmDdYyyy(now);
    platform::yield();

    std::string savedId;
    const auto restoreId = [&] {
        if (!savedId.empty() && ms.uEventOption == 4)
            use(oEvtStruct).SetField("BAEvent", savedId);
    };

    bool result = false;
    if (uRunMode != 0) {
        platform::yield();
        result = LaunchRunner(oEvtStruct);
    } else {
        // A duplicate runs under the new event's id.
        if (ms.uEventOption == 4) {
            savedId = use(oEvtStruct).text("BAEvent");
            use(oEvtStruct).SetField("BAEvent", ms.sNewId);
        }
        platform::yield();
        try {
            result = LaunchRunner(oEvtStruct);
        } catch (...) {
            // The host's record gets its own id back even when the run failed.
            try {
                restoreId();
            } catch (...) {
            }
            throw;
        }
    }
    restoreId();
    platform::yield();
    return result;
}

bool LaunchRunner(zul::com::EventStructPtr& oEvtStruct)
{
    auto& ms = zul::com::moduleState();
    const auto now = platform::now();
    const std::string runTime = platform::formatHhMmSs(now);
    const std::string runDate = platform::formatMmDdYyyy(now);
    bool result = false;
    platform::yield();

    const std::string address = partnerAddress(readScriptText(ms.sRunScript));
    const bool answered = Pinng::PingPartner(address);
    auto& event = use(oEvtStruct);
    if (!answered) {
        platform::yield();
        use(ms.oMsgService)
            .HandleMessages({false, msg(4107), msg(4121), msg(4122), "L", platform::trim(event.text("BAEvent")),
                             event.Field("BAEvTYPE"), event.Field("BARUNDAY"), runDate, runTime, "90", address});
        return result;
    }
    platform::yield();
    use(ms.oMsgService)
        .HandleMessages({false, msg(4124), msg(4125), "L", platform::trim(event.text("BAEvent")),
                         event.Field("BAEvTYPE"), event.Field("BARUNDAY"), runDate, runTime, "90", address});

    RunnerCommand command;
    const std::string id = platform::trim(event.text("BAEvent"));
    if (!id.empty()) {
        const bool flag1 = flagSet(event, "BAFLAG1");
        const bool flag2 = flagSet(event, "BAFLAG2");
        const bool flag4 = flagSet(event, "BAFLAG4");
        const std::int16_t runDay = runDayOf(event);
        // Held from the register merge until the runner has been started.
        HandoverLock handover;
        std::string why;
        std::string copy;
        if (!handover.held()) {
            why = handover.failure();
        } else {
            copy = CheckTransfers(id, ms.sRunScript, flag1, flag2, false, flag4, runDay);
            if (copy.empty())
                why = "the transfer check before the run failed: " + LastCheckFailure();
        }
        command = FormRunnerCommand(copy, id);
        if (!why.empty()) {
            zul::com::runWithoutScript(id, why);
            command.environment.push_back(std::string(CheckFailureVariable) + "=" + why);
        }
        StartRunner(command, &handover);
    } else {
        // Nothing shared is written: the runner gets the script as it is now.
        command = FormRunnerCommand(ms.sRunScript, "     ");
        StartRunner(command);
    }
    platform::defaultPointer();
    result = true;
    return result;
}

RunnerCommand FormRunnerCommand(const std::string& sScriptField, const std::string& sEventField)
{
    RunnerCommand command;
    command.program = platform::appPath("\\VelundZUL");
    command.argument = "true|" + sScriptField + "|" + sEventField;
    command.text = command.program + " " + command.argument;
    command.script = sScriptField;
    command.event = platform::trim(sEventField);
    return command;
}

void ExpectScript(const std::string& path, std::string text)
{
    state().expectedPath = path;
    state().expectedText = std::move(text);
}

void StartRunner(const RunnerCommand& command, HandoverLock* handover)
{
    auto& st = state();
    st.lastCommandLine = command.text;
    platform::StartOptions options;
    options.environment = command.environment;
    // A "qorvhost run --wait" hears the runner's exit status on this descriptor.
    if (const int fd = zul::records::descriptorNamed(std::getenv(zul::records::kStatusFdVariable));
        fd >= 0 && ::fcntl(fd, F_GETFD) >= 0)
        options.inheritFds.push_back(fd);
    // A libcurl that speaks TLS through GnuTLS initialises it itself.
    options.environment.push_back(std::string(zul::records::kNoTlsSetUpVariable) + "=1");

    // The runner reads the script from this descriptor, never by its name:
    // the next run may replace the file the moment the lock is let go.
    PinnedScript script;
    if (const std::string path = platform::trim(command.script); !path.empty()) {
        const bool written = !st.expectedPath.empty() && path == st.expectedPath;
        if (auto pinned = script.pin(path, written ? &st.expectedText : nullptr); pinned) {
            if (written)
                script.releaseNameInStickyFolder(path);
            options.inheritFds.push_back(script.fd());
            options.environment.push_back(std::string(ScriptVariable) + "=" + std::to_string(script.fd()));
        } else {
            zul::com::runWithoutScript(command.event, pinned.error().description);
            options.environment.push_back(std::string(ScriptVariable) + "=");
            options.environment.push_back(std::string(CheckFailureVariable) + "=" + pinned.error().description);
        }
    }
    st.expectedPath.clear();
    std::string().swap(st.expectedText);

    platform::ChildHandshake handshake;
    if (handshake.open()) {
        options.inheritFds.push_back(handshake.childEnd());
        options.environment.push_back(std::string(HandshakeVariable) + "=" + std::to_string(handshake.childEnd()));
    }
    auto pid = platform::startProcess(command.program, {command.argument}, options);
    if (handover)
        handover->release();
    if (!pid)
        raise(pid.error());
    handshake.started();
    // Nothing shared hangs on this any more (the runner holds its own copy),
    // so a runner that is slow to start holds its caller up only briefly.
    const auto wait = std::min(HandoverWait(), ScriptReadWait);
    if (!handshake.waitForClose(wait))
        HandoverNote("the runner (process " + std::to_string(*pid) + ") has not read its script within " +
                     std::to_string(wait.count() / 1000) +
                     " s; it reads the descriptor it was given whenever it gets to it");
    // Not waited for: the watcher reaps it and then runs what a caller asked
    // to happen once this runner is done with its files.
    auto afterExit = TakeAfterExitAction();
    if (afterExit)
        platform::watchChild(*pid, [afterExit = std::move(afterExit)](int) { afterExit(); });
    else
        platform::watchChild(*pid);
}

} // namespace ModExecut
