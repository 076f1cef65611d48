// Loading an event script into the editor, the work copy, deleting scripts.
#include "scripts/FTPCode.h"

#include "com/HostComponents.h"
#include "com/ModuleState.h"
#include "platform/AppPath.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace platform = zul::platform;

namespace FTPCode {

namespace {

// trim() in place; the text grows line by line, so it is not copied each time.
void trimBlanks(std::string& s)
{
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    std::size_t lead = 0;
    while (lead < s.size() && s[lead] == ' ')
        ++lead;
    s.erase(0, lead);
}

// The display text: every kept line trimmed and ended by CR LF, each GET
// pair folded back into the one line that was typed.
std::string foldScriptLines(const std::vector<std::string>& lines)
{
    using platform::CRLF;
    std::string t;
    bool pendingGet = false;
    for (const std::string& raw : lines) {
        const std::string line = platform::trim(raw);
        if (platform::upper(platform::left(line, 3)) == "GET") {
            // The blank is looked for in the line as read but cut from the
            // trimmed line: an indented GET loses part of its remote name.
            const std::size_t p = platform::instr(5, raw, " ");
            trimBlanks(t);
            t += p != 0 ? platform::left(line, p) : line;
            pendingGet = true;
        } else if (pendingGet) {
            const std::size_t q = platform::instr(7, raw, "=&");
            std::string r = platform::trim(platform::mid(line, q + 2));
            const std::size_t amp = r.find('&');
            if (amp != std::string::npos)
                r[amp] = ' ';
            trimBlanks(t);
            t += ' ';
            t += platform::trim(r);
            t += CRLF;
            pendingGet = false;
            if (amp == std::string::npos) {
                // Not a marker line after all: keep it, glued to what follows.
                trimBlanks(t);
                t += CRLF;
                t += line;
            }
        } else if (line.size() > 1) {
            trimBlanks(t);
            t += line;
            t += CRLF;
        }
    }
    trimBlanks(t);
    return t;
}

void reportNotFound(const std::string& path)
{
    if (auto service = zul::com::moduleState().oMsgService) {
        try {
            service->HandleMessages({false, zul::com::msg(3281), "D", "File '" + path + "' not found."});
        } catch (...) {
            // A failing report has nowhere further to go.
        }
    }
}

} // namespace

std::optional<std::string> LoadEventScript(std::string& sEventId)
{
    const std::string path = platform::appPath("\\ZUL\\" + sEventId + "ZUL.zul");
    auto lines = platform::readLines(path);
    if (!lines) {
        // Only a missing script is reported; any other failure ends the load quietly.
        if (lines.error().code == platform::ErrorCode::FileNotFound)
            reportNotFound(path);
        return std::nullopt;
    }
    return foldScriptLines(*lines);
}

void WriteWorkScript(const std::string& text)
{
    std::string content;
    content.reserve(text.size() + 2);
    content += text;
    content += platform::CRLF;
    // Quiet: the editor goes on whether or not the copy was written.
    (void)platform::replaceAtomically(platform::appPath("\\ZUL\\ZULTMP.zul"), content, platform::FileAccess::OwnerOnly);
}

void DeleteScriptFile(std::string& sPath)
{
    if (platform::findNormalFile(sPath))
        (void)platform::forceDelete(sPath);
}

} // namespace FTPCode
