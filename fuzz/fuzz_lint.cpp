// Fuzzes the script language: the runner's parser and the lint over the same
// input. Whatever the parser refuses, the lint reports as an error on the same
// line, and every finding names a line of the input.
#include "ftpscript/Lint.h"
#include "ftpscript/ScriptParser.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    namespace fs = zul::ftpscript;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    fs::LintOptions options;
    options.checkLocalFiles = false; // no file system in the loop
    const auto found = fs::lint(text, options);
    const int lines = int(std::count(text.begin(), text.end(), '\n')) + 1;
    for (const auto& d : found)
        if (d.line < 1 || d.line > lines || d.message.empty() || d.code.empty())
            std::abort();
    (void)fs::summary(found);
    const auto parsed = fs::parseScript(text);
    if (const auto* e = std::get_if<fs::ParseError>(&parsed)) {
        const bool same = std::any_of(found.begin(), found.end(), [&](const fs::Diagnostic& d) {
            return d.severity == fs::Severity::Error && d.line == e->line;
        });
        if (!same)
            std::abort();
    }
    return 0;
}
