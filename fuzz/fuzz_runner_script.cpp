// Fuzzes the runner's script parser: any bytes must parse or fail with a line
// number, and a user line with a password is shown masked. The same
// bytes go through the netrc reader and the server-name sanitiser, which read
// text from outside too.
#include "platform/Text.h"
#include "runner/Masking.h"
#include "runner/Netrc.h"
#include "runner/SafeName.h"
#include "runner/Script.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = zul::runner::parseScript(text);
    if (const auto* err = std::get_if<zul::runner::ParseError>(&parsed)) {
        if (err->line < 1 || err->message.empty())
            std::abort();
    } else {
        for (const auto& c : std::get<std::vector<zul::runner::Command>>(parsed)) {
            if (c.line < 1)
                std::abort();
            // A user command with a password is shown with the mask in its place.
            if (c.verb == zul::runner::Verb::User && c.args.size() > 1 && !c.args[1].empty() &&
                !c.shown.ends_with(" ****"))
                std::abort();
        }
    }
    for (std::size_t start = 0; start <= text.size();) {
        const auto nl = text.find('\n', start);
        const auto line = text.substr(start, nl == std::string_view::npos ? text.size() - start : nl - start);
        if (const auto name = zul::runner::safeLocalName(line)) {
            if (name->empty() || *name == "." || *name == ".." || name->find_first_of("/\\") != std::string::npos)
                std::abort();
        }
        const std::string masked = zul::runner::maskCommand(line);
        if (zul::runner::carriesPassword(line) && masked.size() > 4 && masked.substr(masked.size() - 4) != "****")
            std::abort();
        (void)zul::platform::escapeControls(line);
        if (nl == std::string_view::npos)
            break;
        start = nl + 1;
    }
    (void)zul::runner::netrcFind(text, "host.example", "zul");
    return 0;
}
