#pragma once

#include <string>

namespace ModExecut {

// Removes the receipt records of a deleted event from Rcvdchkr.txt, under the
// hand-over lock: the records whose key is the event id (five characters, as
// the transfer check makes them) and a two-digit ordinal. Every other line
// keeps its bytes and its place. Never throws; a register that cannot be
// edited is left as it is and the host's log says why. Returns how many went.
int RemoveEventReceipts(const std::string& sEventId);

} // namespace ModExecut
