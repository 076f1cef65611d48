#include "runner/Check.h"

#include "ftpscript/Lint.h"
#include "platform/FileSystem.h"
#include "runner/Settings.h"

namespace zul::runner {

namespace {

// True when a run would refuse the settings.
bool reportSettings(const std::string& path, const ConfigFile& config, const std::string& error, std::FILE* out)
{
    if (!error.empty())
        std::fprintf(out, "%s: %s: %s [settings]\n", path.c_str(), config.refused() ? "error" : "warning",
                     error.c_str());
    for (const auto& p : settingsProblems(config)) {
        if (p.line)
            std::fprintf(out, "%s:%d: warning: %s [bad-setting]\n", path.c_str(), p.line, p.message.c_str());
        else
            std::fprintf(out, "environment: warning: %s [bad-setting]\n", p.message.c_str());
    }
    return config.refused();
}

} // namespace

int checkScripts(const std::vector<std::string>& files, std::FILE* out, std::FILE* err, const std::string& settingsPath)
{
    std::string settingsError;
    const ConfigFile config = settingsPath.empty() ? ConfigFile() : ConfigFile::read(settingsPath, &settingsError);
    ftpscript::LintOptions options;
    options.uploads = [&config](const std::string& host) {
        const Settings s = Settings::fromConfig(config, host);
        return ftpscript::LintOptions::Uploads{s.uploadTemp != Settings::UploadTemp::Off,
                                               s.verify == Settings::Verify::Hash};
    };
    if (files.empty()) {
        std::fprintf(err, "usage: VelundZUL --check FILE...\n");
        return 2;
    }
    bool unreadable = false;
    bool problems = !settingsPath.empty() && reportSettings(settingsPath, config, settingsError, out);
    for (const auto& file : files) {
        const auto text = platform::readAll(file, platform::Links::Follow);
        if (!text) {
            std::fprintf(err, "%s: error: cannot read: %s\n", file.c_str(), text.error().description.c_str());
            unreadable = true;
            continue;
        }
        const auto found = ftpscript::lint(*text, options);
        for (const auto& d : found)
            std::fprintf(out, "%s:%d: %s: %s [%s]\n", file.c_str(), d.line,
                         std::string(ftpscript::severityName(d.severity)).c_str(), d.message.c_str(), d.code.c_str());
        problems = problems || ftpscript::hasErrors(found);
    }
    std::fflush(out);
    return unreadable ? 2 : problems ? 1 : 0;
}

} // namespace zul::runner
