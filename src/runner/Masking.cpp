#include "runner/Masking.h"

#include <cctype>

namespace zul::runner {

namespace {
std::string_view wordOf(std::string_view command)
{
    if (!command.empty() && command.front() == '*')
        command.remove_prefix(1);
    const auto b = command.find_first_not_of(" \t");
    if (b == std::string_view::npos)
        return {};
    command.remove_prefix(b);
    return command.substr(0, command.find_first_of(" \t"));
}

bool equalsUpper(std::string_view word, std::string_view upper)
{
    if (word.size() != upper.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(word[i])) != upper[i])
            return false;
    return true;
}
} // namespace

bool carriesPassword(std::string_view command)
{
    const auto word = wordOf(command);
    return equalsUpper(word, "PASS") || equalsUpper(word, "ACCT");
}

std::string maskCommand(std::string_view command)
{
    if (!carriesPassword(command))
        return std::string(command);
    const auto word = wordOf(command);
    const auto end = std::size_t(word.data() - command.data()) + word.size();
    return std::string(command.substr(0, end)) + " ****";
}

std::string maskEchoedCommands(std::string text)
{
    const auto isWordByte = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    for (std::size_t i = 0; i + 5 <= text.size(); ++i) {
        const std::string_view at(text.data() + i, 5);
        if (!(equalsUpper(at.substr(0, 4), "PASS") || equalsUpper(at.substr(0, 4), "ACCT")) || at[4] != ' ')
            continue;
        if (i > 0 && isWordByte(text[i - 1]))
            continue;
        std::size_t b = i + 5;
        while (b < text.size() && text[b] == ' ')
            ++b;
        std::size_t e = b;
        while (e < text.size() && text[e] != ' ' && text[e] != '\'' && text[e] != '"' && text[e] != '\r' &&
               text[e] != '\n')
            ++e;
        // Already masked text stays as it is; anything else up to a blank or quote goes.
        if (e > b && text.compare(b, 4, "****") != 0)
            text.replace(b, e - b, "****");
        i = b;
    }
    return text;
}

std::string escapeControls(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if ((c < 0x20 && c != '\t') || c == 0x7f) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xf];
        } else {
            out += char(c);
        }
    }
    return out;
}

} // namespace zul::runner
