// Rewriting the work copy into the event script or the run copy: each GET is
// redirected into the Junction folder and followed by its receipt marker line.
#include "scripts/FTPCode.h"

#include "com/ModFTP1.h"
#include "com/ModuleState.h"
#include "com/Registry.h"
#include "platform/AppPath.h"
#include "platform/FileSystem.h"
#include "platform/SafeOpen.h"
#include "platform/Text.h"

#include <cstdint>
#include <limits>

namespace com = zul::com;
namespace platform = zul::platform;

namespace FTPCode {

namespace {
// Scripts can hold passwords.
constexpr auto kPrivate = platform::FileAccess::OwnerOnly;

// Appends the rewritten lines to out as it goes, so that after a failure out
// holds exactly the lines written before it. Returns the failure's
// description, or nothing when every line was rewritten.
std::optional<std::string> rewriteLines(std::vector<std::string>& lines, const std::string& sEventId,
                                        com::IFileUtility& util, std::string& out)
{
    using platform::CRLF;
    const std::string id = platform::trim(sEventId);
    std::int16_t ordinal = 0;
    try {
        for (std::string& line : lines) {
            if (platform::upper(platform::left(platform::trim(line), 3)) != "GET") {
                out += platform::trim(line);
                out += CRLF;
                continue;
            }
            if (ordinal == std::numeric_limits<std::int16_t>::max())
                return std::string("Overflow");
            ++ordinal;
            const std::string number = platform::twoDigits(ordinal);
            const std::size_t p = platform::instr(5, line, " ");
            const std::string head = platform::trim(platform::left(line, p));
            const std::string junction =
                platform::trim(platform::appPath("\\Junction\\" + id + number + "." + util.GetExtension(line)));
            out += head;
            out += ' ';
            out += junction;
            out += CRLF;
            out += "**" + id + number + "=&" + util.GetTargetFNP(line) + "&";
            out += CRLF;
        }
    } catch (const std::exception& e) {
        return std::string(e.what());
    } catch (...) {
        return std::string("Unexpected failure");
    }
    return std::nullopt;
}

void buildScript(std::string& sEventId, const std::string& outPath)
{
    auto& ms = com::moduleState();
    // Outside the trap: a file utility that cannot be had fails in the caller.
    ms.oFileUtil = com::CreateObjectAs<com::IFileUtility>(com::kFileUtilityProgId);
    auto util = ms.oFileUtil;
    com::use(util);

    const std::string workPath = platform::appPath("\\ZUL\\ZULTMP.zul");
    if (!platform::fileExists(workPath))
        return;

    const auto fail = [](const std::string& description) { ModFTP1::reportFailure(description); };

    // Opening for output creates the file, and fails when it cannot be
    // written; the old content stays until the new one is complete.
    if (auto st = platform::appendFile(outPath, {}, kPrivate); !st)
        return fail(st.error().description);
    // Someone else's work copy never becomes this user's script.
    auto lines = platform::readTrustedLines(workPath);
    if (!lines) {
        (void)platform::writeFile(outPath, {}, kPrivate);
        return fail(lines.error().description);
    }

    std::string out;
    if (auto failure = rewriteLines(*lines, sEventId, *util, out)) {
        // A rewrite cut short keeps the lines it got to.
        (void)platform::writeFile(outPath, out, kPrivate);
        return fail(*failure);
    }
    if (auto st = platform::replaceAtomically(outPath, out, kPrivate); !st)
        return fail(st.error().description);
    ms.oFileUtil.reset();
}

} // namespace

void BuildEventScript(std::string& sEventId)
{
    buildScript(sEventId, platform::appPath("\\ZUL\\" + sEventId + "ZUL.zul"));
}

void BuildRunScript(std::string& sEventId)
{
    buildScript(sEventId, platform::appPath("\\ZUL\\TMP" + sEventId + ".zul"));
}

} // namespace FTPCode
