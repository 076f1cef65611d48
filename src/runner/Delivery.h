#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zul::runner {

// The options of one receipt record of Rcvdchkr.txt.
struct ReceiptOptions {
    bool found = false;
    bool refuseEmpty = false; // RZ
    bool keepTime = false;    // RT
    bool checkSize = false;   // RC
    std::string line;         // the record as read, to remove it once its file is delivered
    std::string error;        // the register is there but cannot be read: its options are unknown
};

// The first record whose key (columns 1 to 7) is key in the register at
// registerPath (see registerPath() for the application folder's); not found
// when the register or the record is missing; error set when the register
// cannot be read.
ReceiptOptions findReceipt(const std::string& registerPath, const std::string& key);

// What the server said about a file before it was received.
struct ServerFacts {
    std::optional<std::int64_t> size;
    std::optional<std::int64_t> mtime; // seconds since the epoch
};

// Moves a received Junction file to its target, applying the options. Returns
// an empty text on success, else why nothing was delivered (the target is
// then as it was, and the Junction file stays for inspection).
std::string deliver(const std::string& junctionFile, const std::string& target, const ReceiptOptions& options,
                    const ServerFacts& facts);

} // namespace zul::runner
