// Fuzzes the history reader: each input line is read as a runs.jsonl record and
// as a host message, as the history reads its logs. Whatever a line holds, a
// run taken from it has text that escaping makes harmless to a terminal, and a
// record read from it is written and read back the same.
#include "host/history/RunLog.h"
#include "platform/CodePage.h"
#include "platform/Text.h"
#include "records/RunRecord.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
void harmless(const std::string& text)
{
    const std::string shown = zul::platform::escapeControls(text, "");
    if (zul::platform::holdsControls(shown))
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start <= text.size();) {
        const auto nl = text.find('\n', start);
        const auto line = text.substr(start, nl == std::string_view::npos ? text.size() - start : nl - start);
        for (const auto& run :
             {zul::history::RunLog::fromRunRecord(line), zul::history::RunLog::fromHostMessage(line)}) {
            if (!run)
                continue;
            for (const std::string* field : {&run->event, &run->start, &run->end, &run->outcome, &run->transcript})
                harmless(*field);
            (void)zul::history::shownTime(run->start);
            (void)zul::history::shownDuration(run->durationMs());
            (void)zul::history::shownTransfer(run->filesDown, run->bytesDown);
        }
        (void)zul::history::parseStamp(line);
        // The runner writes code-page text; what it can hold comes back as it was.
        if (auto read = zul::records::readRunRecord(line)) {
            zul::records::RunRecord r = read->record;
            for (std::string* text : {&r.event, &r.start, &r.end, &r.outcome, &r.transcript, &r.kept})
                *text = zul::platform::codePageFromUtf8(*text);
            const auto again = zul::records::readRunRecord(zul::records::runRecordLine(r));
            if (!again || again->record.exitStatus != r.exitStatus || again->record.bytesUp != r.bytesUp ||
                again->record.filesDown != r.filesDown ||
                zul::platform::codePageFromUtf8(again->record.outcome) != r.outcome ||
                zul::platform::codePageFromUtf8(again->record.event) != r.event)
                std::abort();
        }
        if (nl == std::string_view::npos)
            break;
        start = nl + 1;
    }
    return 0;
}
