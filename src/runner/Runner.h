#pragma once

#include "records/ExitStatus.h"
#include "runner/Delivery.h"
#include "runner/Script.h"
#include "runner/Session.h"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zul::runner {

using records::ExitStatus;

struct RunTotals {
    int filesUp = 0;
    int filesDown = 0;
    std::int64_t bytesUp = 0;
    std::int64_t bytesDown = 0;
};

struct RunResult {
    ExitStatus status = ExitStatus::Success;
    std::string message;
};

// Runs a parsed script command by command. The first command that fails ends
// the run; the session is closed (QUIT) whatever happened.
class Runner {
public:
    Runner(Transcript& transcript, ProgressBar& progress, const Settings& settings, std::string appFolder,
           std::chrono::steady_clock::time_point deadline, std::function<bool()> interrupted);

    RunResult run(const std::vector<Command>& script);
    const RunTotals& totals() const { return m_totals; }
    // "Junction/NAME" of a received file that could not be delivered and
    // waits there for a later run; empty when none.
    const std::string& keptFile() const { return m_kept; }

private:
    struct LastGet {
        std::size_t index = 0;
        std::string local;
        ReceiptOptions options;
        ServerFacts facts;
    };

    RunResult execute(const std::vector<Command>& script, std::size_t i, bool& stop);

    // The command at script[index] as its handler sees it.
    struct Step {
        const std::vector<Command>& script;
        std::size_t index;
        bool stop = false; // set by a handler to end the run after this command
        const Command& command() const { return script[index]; }
    };
    // One handler per command, picked by execute() from its verb.
    RunResult onOpen(Step& s);
    RunResult onUser(Step& s);
    RunResult onCd(Step& s);
    RunResult onCdup(Step& s);
    RunResult onLcd(Step& s);
    RunResult onPwd(Step& s);
    RunResult onLs(Step& s);
    RunResult onDir(Step& s);
    RunResult onGet(Step& s);
    RunResult onPut(Step& s);
    RunResult onMget(Step& s);
    RunResult onMput(Step& s);
    RunResult onAppend(Step& s);
    RunResult onDelete(Step& s);
    RunResult onMdelete(Step& s);
    RunResult onMkdir(Step& s);
    RunResult onRmdir(Step& s);
    RunResult onRename(Step& s);
    RunResult onAscii(Step& s);
    RunResult onBinary(Step& s);
    RunResult onType(Step& s);
    RunResult onQuote(Step& s);
    RunResult onSite(Step& s);
    RunResult onPassive(Step& s);
    RunResult onClose(Step& s);
    RunResult onQuit(Step& s);
    RunResult onNoOp(Step& s);
    RunResult onDisabledPut(Step& s);
    RunResult onMarker(Step& s);
    // A request to the partner that needs a session, retried as the settings say.
    RunResult onSession(const std::function<Outcome()>& request);
    RunResult changeFolder(const std::function<Outcome()>& change);
    // put and append: the remote name defaults to the local file's own.
    RunResult putCommand(Step& s, bool append);
    RunResult fromOutcome(const Outcome& o);
    Outcome retrying(const std::function<Outcome()>& attempt);
    bool stopRequested() const;
    bool sleepFor(std::chrono::milliseconds delay) const;
    std::optional<RunResult> requireSession() const;

    std::string localPath(const std::string& name) const;
    bool inJunction(const std::string& path) const;
    std::optional<std::string> markerKeyFor(const std::vector<Command>& script, std::size_t i,
                                            const std::string& local) const;

    RunResult get(const std::vector<Command>& script, std::size_t i, const std::string& remote,
                  const std::string& local);
    RunResult put(const std::string& local, const std::string& remote, bool append);
    // The name an upload is written to: remote itself, or its temporary name under UPLOAD_TEMP.
    std::string uploadName(const std::string& remote, bool append);
    std::int64_t continueAt(const std::string& target, const SourceFile& source);
    bool mayContinue(const std::string& remote, const PartFile& part, const ServerFacts& before);
    // sizeSeen: the size the upload's own exchange gave; asked for only when missing.
    Outcome verifyUpload(const std::string& remote, SourceFile& source, std::optional<std::int64_t> sizeSeen);
    Outcome moveIntoPlace(const std::string& temp, const std::string& remote);
    void removeTemporary(const std::string& temp);
    // A note that a run needs once, however many files it concerns.
    void noteOnce(const std::string& text);
    RunResult deliverMarker(const std::vector<Command>& script, std::size_t i);
    std::string deliverReceived(const std::string& junctionFile, const std::string& target,
                                const ReceiptOptions& options, const ServerFacts& facts);
    RunResult deliverKept(const std::vector<Command>& script, std::size_t i, const std::string& local,
                          const ReceiptOptions& options, RunResult failed);
    void removeDelivered();
    RunResult listing(const Command& c, bool namesOnly);
    Outcome listText(const std::string& remote, bool namesOnly, std::string& text);
    RunResult remoteNames(const std::string& pattern, std::vector<std::string>& out);
    RunResult forEachRemote(const std::vector<std::string>& patterns,
                            const std::function<RunResult(const std::string&)>& action);

    Transcript& m_transcript;
    ProgressBar& m_progress;
    Settings m_settings;
    std::string m_appFolder;
    std::function<bool()> m_interrupted;
    std::chrono::steady_clock::time_point m_deadline;
    std::unique_ptr<Session> m_session; // chosen by the scheme of the open line
    std::string m_localDir;
    std::optional<LastGet> m_lastGet;
    RunTotals m_totals;
    std::vector<std::string> m_delivered; // register lines of the files delivered
    std::string m_kept;
    std::set<std::string> m_notedOnce;
};

} // namespace zul::runner
