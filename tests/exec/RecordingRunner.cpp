// Stands in for VelundZUL: writes its arguments to runner-args.txt and a copy
// of the script named in its argument to runner-script.txt, next to itself.
#include "platform/FileSystem.h"

#include <climits>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    char self[PATH_MAX] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 2;
    const std::string folder = zul::platform::folderOf(self);

    std::string args;
    for (int i = 1; i < argc; ++i)
        args += std::string(argv[i]) + "\n";
    if (!zul::platform::writeFile(folder + "/runner-args.txt", args))
        return 3;

    // "true|script|event"
    const std::string first = argc > 1 ? argv[1] : "";
    const auto bar1 = first.find('|');
    const auto bar2 = bar1 == std::string::npos ? bar1 : first.find('|', bar1 + 1);
    if (bar2 == std::string::npos)
        return 4;
    const std::string script = first.substr(bar1 + 1, bar2 - bar1 - 1);
    if (auto bytes = zul::platform::readAll(script))
        (void)zul::platform::writeFile(folder + "/runner-script.txt", *bytes);
    return 0;
}
