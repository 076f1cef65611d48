#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zul::ftpscript {

enum class Severity { Error, Warning };

struct Diagnostic {
    int line = 0; // 1-based
    Severity severity = Severity::Error;
    std::string code; // short and stable, one per kind of problem
    std::string message;
};

struct LintOptions {
    // Warn about a put whose local file is not there now.
    bool checkLocalFiles = true;
    // Where relative local names start; empty: only absolute names are looked at.
    std::string localFolder;
    // How the runner's settings treat uploads to a partner, when the caller knows them:
    // the lines where a setting cannot apply are warned of.
    struct Uploads {
        bool temporaryName = false; // UPLOAD_TEMP suffix or prefix
        bool hash = false;          // VERIFY hash
    };
    std::function<Uploads(const std::string& host)> uploads;
};

// Every problem of a script, in line order, without connecting anywhere or
// touching any file. Errors are what the runner would stop at; warnings are
// what may be meant but looks wrong.
std::vector<Diagnostic> lint(std::string_view text, const LintOptions& options = {});

std::string_view severityName(Severity severity); // "error", "warning"
bool hasErrors(const std::vector<Diagnostic>& diagnostics);

// One line for a status bar: "2 problems: line 3: unknown command 'gett'".
std::string summary(const std::vector<Diagnostic>& diagnostics);

} // namespace zul::ftpscript
