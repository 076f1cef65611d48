#include "exec/ModExecut.h"
#include "exec/ModExecutState.h"

#include "com/ModuleState.h"
#include "platform/AppPath.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/SafeOpen.h"
#include "platform/Text.h"
#include "platform/Yield.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ModExecut {

namespace {

namespace platform = zul::platform;
using zul::com::msg;

// Line counts are 16-bit.
constexpr std::size_t MaxLines = 32767;

std::string_view trimmed(std::string_view s)
{
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

void report(int number, const std::string& sEventId, std::int16_t iRunDay)
{
    auto& ms = zul::com::moduleState();
    zul::com::use(ms.oMsgService)
        .HandleMessages({false, msg(number), "L", platform::trim(sEventId), "ZUL", std::to_string(iRunDay), ms.sRunDate,
                         ms.sRunTime, "90"});
}

// The first register line whose first seven characters match each key that
// the script's marker lines will ask for, found in one pass over the register.
// The register can hold tens of thousands of lines and is scanned under the
// hand-over lock: each line's key is read as one word and looked up in a small
// open-addressed table of the script's few keys.
class RegisterIndex {
public:
    RegisterIndex(const std::vector<std::string_view>& lines, const std::vector<std::string>& keys)
    {
        if (keys.empty())
            return;
        std::size_t size = 16;
        while (size < keys.size() * 4)
            size *= 2;
        m_slots.resize(size);
        m_shift = 64 - static_cast<unsigned>(std::countr_zero(size));
        for (const auto& key : keys) {
            if (key.size() < KeyWidth)
                continue;
            Slot& slot = m_slots[position(packed(key))];
            slot.key = packed(key);
            slot.used = true;
        }
        for (std::size_t j = 0; j < lines.size(); ++j) {
            if (lines[j].size() < KeyWidth)
                continue;
            Slot& slot = m_slots[position(packed(lines[j]))];
            if (slot.used && slot.first == Absent)
                slot.first = j;
        }
    }

    std::optional<std::size_t> find(std::string_view record) const
    {
        if (m_slots.empty() || record.size() < KeyWidth)
            return std::nullopt;
        const Slot& slot = m_slots[position(packed(record))];
        if (!slot.used || slot.first == Absent)
            return std::nullopt;
        return slot.first;
    }

private:
    static constexpr std::size_t KeyWidth = ReceiptRecord::KeyWidth;
    static_assert(KeyWidth < sizeof(std::uint64_t));
    // A replaced line keeps its first seven characters, so the index stays right.
    static constexpr std::size_t Absent = std::size_t(-1);
    struct Slot {
        std::uint64_t key = 0;
        std::size_t first = Absent;
        bool used = false;
    };

    static std::uint64_t packed(std::string_view s)
    {
        std::uint64_t v = 0;
        std::memcpy(&v, s.data(), KeyWidth);
        return v;
    }

    // The key's slot, or the free one where it would go: the table is at
    // least four times the number of keys, so a free slot is always near.
    std::size_t position(std::uint64_t key) const
    {
        const std::size_t mask = m_slots.size() - 1;
        std::size_t i = (key * 0x9E3779B97F4A7C15ULL) >> m_shift;
        while (m_slots[i].used && m_slots[i].key != key)
            i = (i + 1) & mask;
        return i;
    }

    std::vector<Slot> m_slots;
    unsigned m_shift = 0;
};

std::optional<std::string> checkTransfers(const std::string& sEventId, const std::string& sScriptPath, bool bSendEmpty,
                                          bool bRZ, bool bRT, bool bRC, std::int16_t iRunDay)
{
    auto& ms = zul::com::moduleState();
    auto& st = state();
    st.checkFailure.clear();
    st.expectedPath.clear();
    st.expectedText.clear();
    const auto fail = [&st](std::string why) -> std::optional<std::string> {
        st.checkFailure = std::move(why);
        return std::nullopt;
    };
    const auto now = platform::now();
    ms.sRunTime = platform::formatHhMmSs(now);
    ms.sRunDate = platform::formatMmDdYyyy(now);
    for (auto& entry : st.newReceipts.entries)
        entry.clear();
    st.newReceipts.count = 0;

    // Under the hand-over lock no other merge is under way: what a merge
    // killed half-way left beside the register goes now. The runner copy's
    // folder also holds scripts that are saved without the lock, so there
    // only what is surely dead goes.
    const std::string registerPath = platform::appPath("\\Rcvdchkr.txt");
    platform::removeReplaceLeftovers(platform::folderOf(registerPath), 0);
    platform::removeReplaceLeftovers(platform::appPath("\\ZUL"), 3600);

    // Appending nothing creates a missing register without touching one that
    // another run has just written.
    if (!platform::fileExists(registerPath))
        if (auto created = platform::appendFile(registerPath, ""); !created)
            return fail("cannot create the receipt register: " + created.error().description);
    // One buffer and views into it: the register can be large, and the lock
    // is held while it is merged.
    auto registerText = platform::readAll(registerPath);
    if (!registerText)
        return fail("cannot read the receipt register: " + registerText.error().description);
    std::vector<std::string_view> lines = platform::splitLines(*registerText);
    if (lines.size() > MaxLines)
        return fail("the receipt register has more than 32767 lines");
    std::deque<std::string> replacements;

    // The script too: views into one buffer, and the few lines that change
    // (a PUT of an empty file) kept beside it.
    auto scriptText = platform::readTrusted(platform::trim(sScriptPath));
    if (!scriptText)
        return fail("cannot read the script: " + scriptText.error().description);
    const std::vector<std::string_view> scriptLines = platform::splitLines(*scriptText);
    std::vector<std::string_view> script;
    script.reserve(scriptLines.size());
    std::size_t scriptBytes = 0;
    for (const auto line : scriptLines) {
        if (trimmed(line).empty())
            continue;
        scriptBytes += line.size() + 2;
        script.push_back(line);
    }
    if (script.empty())
        return fail("the script " + platform::trim(sScriptPath) + " has no line");
    if (script.size() > MaxLines)
        return fail("the script has more than 32767 lines");

    const std::string markerKey = "**" + platform::trim(sEventId);
    const auto isMarker = [&markerKey](std::string_view tv) { return platform::upperLeftEquals(tv, 7, markerKey); };
    const auto keyOf = [](std::string_view tv) {
        return platform::fitLeft(platform::mid(tv, 3, 7), ReceiptRecord::KeyWidth);
    };
    std::vector<std::string> keys;
    for (const auto& v : script)
        if (const std::string_view tv = trimmed(v); isMarker(tv))
            keys.push_back(keyOf(tv));
    const RegisterIndex index(lines, keys);
    std::string runnerCopy;
    runnerCopy.reserve(scriptBytes + script.size() * 4 + 2);

    // A file sent to several places is looked at once: this runs under the
    // hand-over lock, and a second stat of the same name now says the same.
    std::unordered_map<std::string_view, std::optional<std::int64_t>> lengths;
    for (auto& v : script) {
        const std::string_view tv = trimmed(v);
        if (platform::upperLeftEquals(tv, 3, "PUT")) {
            // The local file runs from the fifth character to the next blank.
            const std::size_t blank = platform::instr(5, v, " ");
            if (blank == 0)
                return fail("a put line names one file only: " + std::string(tv));
            const std::string_view name = v.substr(4, blank - 5);
            auto [seen, first] = lengths.try_emplace(name);
            if (first)
                seen->second = platform::existingFileLength(std::string(name));
            const auto length = seen->second;
            if (!length) {
                platform::yield();
                report(4111, sEventId, iRunDay);
            } else if (*length < 1 && bSendEmpty) {
                platform::yield();
                v = replacements.emplace_back("****" + std::string(v));
                report(4096, sEventId, iRunDay);
            }
        } else if (isMarker(tv)) {
            platform::yield();
            if (st.newReceipts.count >= ReceiptTable::Capacity)
                return fail("more than 50 get lines to register");
            const std::int16_t count = ++st.newReceipts.count;
            st.newReceipts.entries[count].clear();

            ReceiptRecord& record = st.record;
            record.Key = keyOf(tv);
            record.Stamp = platform::fitLeft(platform::formatStamp(platform::now()), ReceiptRecord::StampWidth);
            record.RZ = bRZ ? zul::records::receipt::kRefuseEmpty : "  ";
            record.RT = bRT ? zul::records::receipt::kKeepTime : "  ";
            record.RC = bRC ? zul::records::receipt::kCheckSize : "  ";
            // As many characters as the position of the closing "&": the rest
            // of the line for a well-formed marker.
            record.Target =
                platform::fitLeft(platform::mid(tv, 11, platform::instr(12, tv, "&")), ReceiptRecord::TargetWidth);
            const std::string text = platform::trim(record.join());

            const auto match = index.find(text);
            if (match)
                lines[*match] = replacements.emplace_back(text);
            platform::yield();
            if (!match)
                st.newReceipts.entries[count] = text;
        }
        platform::yield();
        runnerCopy += trimmed(v);
        runnerCopy += platform::CRLF;
    }

    // The copy is trimmed as a whole and ends with one more line end.
    const std::size_t lead = runnerCopy.find_first_not_of(' ');
    runnerCopy.erase(0, lead == std::string::npos ? runnerCopy.size() : lead);
    runnerCopy.erase(runnerCopy.find_last_not_of(' ') + 1);
    runnerCopy += platform::CRLF;

    std::string content;
    std::size_t bytes = 0;
    for (const auto& line : lines)
        bytes += line.size() + 2;
    content.reserve(bytes + ReceiptTable::Capacity * (ReceiptRecord::Width + 2));
    for (const auto& line : lines) {
        content += trimmed(line);
        content += platform::CRLF;
    }
    for (std::int16_t i = 1; i <= st.newReceipts.count; ++i) {
        const std::string& entry = st.newReceipts.entries[i];
        if (trimmed(entry).empty())
            continue;
        content += entry;
        content += platform::CRLF;
    }
    // The register goes to the disk while the runner copy is written, and
    // takes its place only when both are there: a failure of either leaves
    // the register as it was.
    auto staged = platform::StagedReplacement::write(registerPath, content);
    if (!staged)
        return fail("cannot write the receipt register: " + staged.error().description);
    const std::string runnerCopyPath = platform::appPath("\\ZUL\\tZULexe.zul");
    // Read by the runner at once and rewritten by the next run: no flush, which
    // keeps the hand-over lock short.
    if (auto written = platform::replaceAtomically(runnerCopyPath, runnerCopy, platform::FileAccess::OwnerOnly,
                                                   platform::Durability::Scratch);
        !written)
        return fail("cannot write the runner copy: " + written.error().description);
    if (auto written = staged->commit(); !written)
        return fail("cannot write the receipt register: " + written.error().description);
    // Kept until the runner is handed the file: it must get these bytes.
    ExpectScript(runnerCopyPath, std::move(runnerCopy));
    return runnerCopyPath;
}

} // namespace

std::string ReceiptRecord::join() const
{
    std::string line;
    line.reserve(Width);
    line += platform::fitLeft(Key, KeyWidth);
    line += ' ';
    line += platform::fitLeft(Stamp, StampWidth);
    line += ' ';
    line += platform::fitLeft(RZ, OptionWidth);
    line += ' ';
    line += platform::fitLeft(RT, OptionWidth);
    line += ' ';
    line += platform::fitLeft(RC, OptionWidth);
    line += ' ';
    line += platform::fitLeft(Target, TargetWidth);
    return line;
}

std::string CheckTransfers(const std::string& sEventId, const std::string& sScriptPath, bool bSendEmpty, bool bRZ,
                           bool bRT, bool bRC, std::int16_t iRunDay)
{
    // Every failure ends the check quietly with no runner copy to offer.
    try {
        if (auto path = checkTransfers(sEventId, sScriptPath, bSendEmpty, bRZ, bRT, bRC, iRunDay))
            return *path;
    } catch (const std::exception& e) {
        state().checkFailure = e.what();
    } catch (...) {
        state().checkFailure = "unexpected failure";
    }
    return {};
}

} // namespace ModExecut
