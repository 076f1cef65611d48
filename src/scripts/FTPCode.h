#pragma once

#include <optional>
#include <string>

// The script file store and the rewriting of scripts for a run. Paths are
// under the application folder; event ids are used as the host gives them.
// Failures are reported through the module's message service with "D".
namespace FTPCode {

// The display text of the event's script ("\ZUL\" + id + "ZUL.zul"), with each
// redirected GET pair folded back into one line; nothing when the load failed
// and the editor keeps its text. Only a missing script is reported.
std::optional<std::string> LoadEventScript(std::string& sEventId);

// Replaces the work copy "\ZUL\ZULTMP.zul" with text followed by CR LF; quiet.
void WriteWorkScript(const std::string& text);

// Deletes sPath when a search for normal files finds it; never reports.
void DeleteScriptFile(std::string& sPath);

// Rewrite the work copy into the event script ("\ZUL\" + id + "ZUL.zul") or
// the run copy ("\ZUL\TMP" + id + ".zul"). Each creates a new file utility in
// oFileUtil first; when none can be created, com::ComError 91 reaches the
// caller. Nothing is written when there is no work copy.
void BuildEventScript(std::string& sEventId);
void BuildRunScript(std::string& sEventId);

} // namespace FTPCode
