// Fuzzes the script rewriting and loading: each input is taken once as a work
// copy (rewritten, then the result loaded back) and once as an event script.
#include "com/HostComponents.h"
#include "com/ModuleState.h"
#include "com/Registry.h"
#include "platform/AppPath.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "scripts/FTPCode.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

namespace com = zul::com;
namespace platform = zul::platform;

// The last word of the line is the local target; its extension follows the
// last dot. Enough to exercise every path of the rewrite.
class WordFileUtility : public com::IFileUtility {
public:
    std::string GetExtension(std::string& line) override
    {
        const std::string target = GetTargetFNP(line);
        const auto dot = target.find_last_of('.');
        return dot == std::string::npos ? std::string() : target.substr(dot + 1);
    }
    std::string GetTargetFNP(std::string& line) override
    {
        const auto end = line.find_last_not_of(' ');
        if (end == std::string::npos)
            return {};
        const auto start = line.find_last_of(' ', end);
        return line.substr(start == std::string::npos ? 0 : start + 1,
                           end - (start == std::string::npos ? 0 : start + 1) + 1);
    }
};

class CountingMessages : public com::IErrorMessages {
public:
    com::Variant HandleMessages(const com::Args& args) override
    {
        if (args.size() < 3)
            __builtin_trap();
        ++count;
        return {};
    }
    long count = 0;
};

std::string g_folder;

void removeFolder()
{
    if (!g_folder.empty()) {
        for (const char* f : {"/ZUL/ZULTMP.zul", "/ZUL/E01ZUL.zul", "/ZUL/ F02 ZUL.zul"})
            ::unlink((g_folder + f).c_str());
        ::rmdir((g_folder + "/ZUL").c_str());
        ::rmdir((g_folder + "/Junction").c_str());
        ::rmdir(g_folder.c_str());
    }
}

bool isGet(const std::string& line)
{
    return platform::upper(platform::left(platform::trim(line), 3)) == "GET";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* base = std::getenv("ZUL_FUZZ_DIR");
    std::string tmpl =
        std::string(base ? base : (platform::isDirectory("/dev/shm") ? "/dev/shm" : "/tmp")) + "/zul-fuzz-XXXXXX";
    if (!::mkdtemp(tmpl.data()))
        std::abort();
    g_folder = tmpl;
    if (!platform::makeDirectories(g_folder + "/ZUL") || !platform::makeDirectories(g_folder + "/Junction"))
        std::abort();
    std::atexit(removeFolder);
    platform::setAppFolder(g_folder);
    com::registerClass(com::kFileUtilityProgId, [] { return std::make_shared<WordFileUtility>(); });
    com::moduleState().oMsgService = std::make_shared<CountingMessages>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);

    // As an event script on disk.
    if (!platform::writeFile(platform::appPath("\\ZUL\\E01ZUL.zul"), input))
        std::abort();
    std::string id = "E01";
    const auto shown = FTPCode::LoadEventScript(id);
    if (!shown || (!shown->empty() && (shown->front() == ' ' || shown->back() == ' ')))
        __builtin_trap();

    // As the editor's text: rewritten, then loaded back.
    FTPCode::WriteWorkScript(input);
    auto work = platform::readLines(platform::appPath("\\ZUL\\ZULTMP.zul"));
    if (!work)
        std::abort();
    const auto gets = std::count_if(work->begin(), work->end(), isGet);
    std::string blanksAround = " F02 ";
    FTPCode::BuildEventScript(blanksAround);
    if (gets < 32767 && com::moduleState().oFileUtil)
        __builtin_trap(); // nothing but the ordinal can fail here
    const auto built = platform::readAll(platform::appPath("\\ZUL\\ F02 ZUL.zul"));
    if (!built)
        __builtin_trap();
    // One line out for each line in, two for each GET; every line ends in CR LF.
    const std::string& script = *built;
    if (gets < 32767 && std::count(script.begin(), script.end(), '\n') != std::ptrdiff_t(work->size()) + gets)
        __builtin_trap();
    if (!script.empty() && script.compare(script.size() - 2, 2, "\r\n") != 0)
        __builtin_trap();
    if (!FTPCode::LoadEventScript(blanksAround))
        __builtin_trap();
    return 0;
}
