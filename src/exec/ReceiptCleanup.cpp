#include "exec/ReceiptCleanup.h"

#include "exec/Handover.h"
#include "exec/ModExecut.h"

#include "platform/AppPath.h"
#include "platform/DropLines.h"
#include "platform/Text.h"

#include <string_view>

namespace ModExecut {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "<id><nn>", then a blank or the end of the line.
bool recordOf(std::string_view line, std::string_view id)
{
    const std::size_t key = ReceiptRecord::KeyWidth;
    return line.size() >= key && line.substr(0, id.size()) == id && isDigit(line[id.size()]) &&
           isDigit(line[id.size() + 1]) && (line.size() == key || line[key] == ' ');
}

} // namespace

int RemoveEventReceipts(const std::string& sEventId)
{
    const std::string id = zul::platform::trim(sEventId);
    // Only five-character ids make records.
    if (id.size() + 2 != ReceiptRecord::KeyWidth)
        return 0;
    try {
        HandoverLock lock;
        if (!lock.held()) {
            HandoverNote("event " + id + " deleted; its receipt records stay in Rcvdchkr.txt: no hand-over lock");
            return 0;
        }
        auto removed = zul::platform::dropLines(zul::platform::appPath("\\Rcvdchkr.txt"),
                                                [&](std::string_view line) { return recordOf(line, id); });
        if (!removed) {
            HandoverNote("event " + id +
                         " deleted; its receipt records stay in Rcvdchkr.txt: " + removed.error().description);
            return 0;
        }
        return int(*removed);
    } catch (...) {
        return 0;
    }
}

} // namespace ModExecut
