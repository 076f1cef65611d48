#pragma once

#include <optional>
#include <string>

// The script file store and the rewriting of scripts for a run. Paths are
// under the application folder; event ids are used as the host gives them.
namespace FTPCode {

// The display text of the event's script ("\ZUL\" + id + "ZUL.zul"), with each
// redirected GET pair folded back into one line; nothing when the load failed
// (the failure has been reported) and the editor keeps its text.
std::optional<std::string> LoadEventScript(std::string& sEventId);

// Replaces the work copy "\ZUL\ZULTMP.zul" with text followed by CR LF.
void WriteWorkScript(const std::string& text);

// Deletes sPath when a search for normal files finds it; never reports.
void DeleteScriptFile(std::string& sPath);

// Rewrite the work copy into the event script / the run copy.
void BuildEventScript(std::string& sEventId);
void BuildRunScript(std::string& sEventId);

} // namespace FTPCode
