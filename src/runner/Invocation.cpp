#include "runner/Invocation.h"

#include "platform/Text.h"

namespace zul::runner {

std::optional<Invocation> parseInvocation(const std::vector<std::string>& args)
{
    if (args.empty())
        return std::nullopt;
    std::string joined;
    for (std::size_t i = 0; i < args.size(); ++i)
        joined += (i ? " " : "") + args[i];
    std::vector<std::string> fields;
    if (joined.find('|') != std::string::npos) {
        // A shell may have split the line at blanks inside the script path;
        // joining with one blank puts it back together.
        std::size_t start = 0;
        for (;;) {
            const auto bar = joined.find('|', start);
            fields.push_back(joined.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
            if (bar == std::string::npos)
                break;
            start = bar + 1;
        }
    } else {
        fields = args;
    }
    if (fields.size() != 3)
        return std::nullopt;
    return Invocation{platform::trim(fields[0]), platform::trim(fields[1]), platform::trim(fields[2])};
}

} // namespace zul::runner
