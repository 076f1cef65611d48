#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text helpers with the semantics the scripts rely on: a blank is the space
// character only, and positions are 1-based with 0 meaning "not found".
namespace zul::platform {

std::string trim(std::string_view s);

// 1-based position of needle in hay at or after start (1-based); 0 if none.
std::size_t instr(std::size_t start, std::string_view hay, std::string_view needle);

// The characters of s from 1-based position start, at most len of them.
std::string mid(std::string_view s, std::size_t start, std::size_t len = std::string_view::npos);
std::string left(std::string_view s, std::size_t len);

// Upper case of the ASCII letters; other bytes of the code page stay.
std::string upper(std::string_view s);
// upper(left(s, len)) == word, without making either string.
bool upperLeftEquals(std::string_view s, std::size_t len, std::string_view word);

// Pads with blanks on the right or cuts to exactly width characters.
std::string fitLeft(std::string_view s, std::size_t width);

// A number formatted with at least two digits ("01", "99", "100").
std::string twoDigits(long value);

// A count with its noun: "1 file", "2 files", "0 files".
inline std::string counted(long long n, std::string_view one, std::string_view many)
{
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

// Text from a partner made harmless to show or store: C0 controls (but those
// in kept), DEL and bytes that are not UTF-8 become \xNN, and C1 controls
// written as UTF-8 become \u0080 to \u009F, so nothing reaches a terminal that
// it would obey (ring, clear, retitle, move the cursor) or that hides text.
// Everything else, valid UTF-8 included, stays as it is.
std::string escapeControls(std::string_view text, std::string_view kept = "\t");

// True when text holds a C0 control, DEL or a C1 control (as UTF-8, or as a
// byte 0x80 to 0x9F outside a UTF-8 sequence): what escapeControls escapes
// but for other bytes that are not UTF-8 (a Latin-1 letter is no control).
bool holdsControls(std::string_view text);

inline constexpr std::string_view CRLF = "\r\n";

// Where the reachability check before a run reads the partner address in a
// script: from just after the first "open" (small letters, anywhere) and the
// character that follows it, from the fifth character when there is none, up
// to the next lineEnd. open and end are npos when there is no "open" or no
// lineEnd from start on; start may lie past the text.
struct PartnerTextSpan {
    std::size_t open;
    std::size_t start;
    std::size_t end;
};
PartnerTextSpan partnerTextSpan(std::string_view script, std::string_view lineEnd);

} // namespace zul::platform
