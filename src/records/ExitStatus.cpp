#include "records/ExitStatus.h"

namespace zul::records {

static_assert(
    [] {
        for (std::size_t i = 0; i < kExitStatuses.size(); ++i)
            if (int(kExitStatuses[i].status) != int(i))
                return false;
        return true;
    }(),
    "the table is indexed by the status");

std::string_view describe(ExitStatus status)
{
    const auto i = std::size_t(status);
    return i < kExitStatuses.size() ? kExitStatuses[i].words : std::string_view("unknown");
}

std::string exitStatusWords(int status)
{
    if (status >= 0 && std::size_t(status) < kExitStatuses.size())
        return std::string(kExitStatuses[std::size_t(status)].words);
    return "exit status " + std::to_string(status);
}

std::string exitStatusList()
{
    std::string out;
    for (const auto& [status, words] : kExitStatuses) {
        if (!out.empty())
            out += ", ";
        out += std::to_string(int(status)) + ' ' + std::string(words);
    }
    return out;
}

} // namespace zul::records
