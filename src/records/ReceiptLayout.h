#pragma once

#include <cstddef>
#include <string_view>

// A record of the receipt register Rcvdchkr.txt: fixed-width fields, one
// blank between them. The run driver writes them; the runner reads them.
namespace zul::records::receipt {

inline constexpr std::size_t kKeyWidth = 7;     // event id and two-digit GET ordinal
inline constexpr std::size_t kStampWidth = 14;  // yyyymmddhhnnss, local time
inline constexpr std::size_t kOptionWidth = 2;  // "RZ", "RT", "RC" or blanks
inline constexpr std::size_t kTargetWidth = 50; // "&" target "&" as the marker line holds it

// Where each field begins, counted from 0.
inline constexpr std::size_t kKeyAt = 0;
inline constexpr std::size_t kStampAt = kKeyAt + kKeyWidth + 1;
inline constexpr std::size_t kRefuseEmptyAt = kStampAt + kStampWidth + 1;
inline constexpr std::size_t kKeepTimeAt = kRefuseEmptyAt + kOptionWidth + 1;
inline constexpr std::size_t kCheckSizeAt = kKeepTimeAt + kOptionWidth + 1;
inline constexpr std::size_t kTargetAt = kCheckSizeAt + kOptionWidth + 1;
inline constexpr std::size_t kWidth = kTargetAt + kTargetWidth;

// The options as their columns hold them when set.
inline constexpr std::string_view kRefuseEmpty = "RZ";
inline constexpr std::string_view kKeepTime = "RT";
inline constexpr std::string_view kCheckSize = "RC";

static_assert(kWidth == 82);

} // namespace zul::records::receipt
