#include "platform/CommandWords.h"

namespace zul::platform {

std::vector<std::string> splitWords(std::string_view line)
{
    std::vector<std::string> words;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= n)
            break;
        std::string w;
        while (i < n && line[i] != ' ' && line[i] != '\t') {
            const char q = line[i];
            if (q == '"' || q == '\'') {
                const auto close = line.find(q, i + 1);
                const std::size_t end = close == std::string_view::npos ? n : close;
                if (q == '\'')
                    w += '\'';
                w.append(line.substr(i + 1, end - i - 1));
                if (q == '\'' && close != std::string_view::npos)
                    w += '\'';
                i = close == std::string_view::npos ? n : close + 1;
            } else {
                w += line[i++];
            }
        }
        words.push_back(std::move(w));
    }
    return words;
}

} // namespace zul::platform
