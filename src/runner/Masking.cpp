#include "runner/Masking.h"

#include "platform/Text.h"

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
} // namespace

bool carriesPassword(std::string_view command)
{
    const auto word = wordOf(command);
    return platform::upperLeftEquals(word, word.size(), "PASS") || platform::upperLeftEquals(word, word.size(), "ACCT");
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
        if (!(platform::upperLeftEquals(at, 4, "PASS") || platform::upperLeftEquals(at, 4, "ACCT")) || at[4] != ' ')
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

namespace {
constexpr std::size_t kShortSecret = 4;

// ASCII only: the same in every locale, and no call per byte.
char folded(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// The bytes a server may put inside an echo without changing what is read:
// C0 controls, DEL, and C1 controls in UTF-8 (two bytes).
std::size_t controlAt(std::string_view text, std::size_t i)
{
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f)
        return 1;
    if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9f)
        return 2;
    return 0;
}

// The end of secret in text from i, or npos when it does not begin there.
std::size_t matchEnd(std::string_view text, std::size_t i, std::string_view secret)
{
    for (std::size_t k = 0; k < secret.size(); ++k) {
        if (k > 0 && controlAt(secret, k) == 0) {
            while (i < text.size()) {
                const std::size_t n = controlAt(text, i);
                if (n == 0)
                    break;
                i += n;
            }
        }
        if (i >= text.size() || folded(text[i]) != folded(secret[k]))
            return std::string_view::npos;
        ++i;
    }
    return i;
}
} // namespace

std::string maskSecrets(std::string text, const std::vector<std::string>& secrets)
{
    const auto letterOrDigit = [&text](std::size_t i) { return std::isalnum(static_cast<unsigned char>(text[i])) != 0; };
    for (const auto& s : secrets) {
        if (s.empty())
            continue;
        // A secret of one to three characters is found inside every other word;
        // masked there, it would leave nothing of the transcript to read.
        const bool wholeWordsOnly = s.size() < kShortSecret;
        std::string out;
        std::size_t i = 0;
        while (i < text.size()) {
            std::size_t end = matchEnd(text, i, s);
            if (end != std::string_view::npos && wholeWordsOnly &&
                ((i > 0 && letterOrDigit(i - 1)) || (end < text.size() && letterOrDigit(end))))
                end = std::string_view::npos;
            if (end == std::string_view::npos) {
                out += text[i++];
            } else {
                out += "****";
                i = end;
            }
        }
        text = std::move(out);
    }
    return text;
}

} // namespace zul::runner
