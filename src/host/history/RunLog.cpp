#include "host/history/RunLog.h"

#include "platform/FileLock.h"
#include "platform/SafeOpen.h"
#include "records/ExitStatus.h"
#include "records/RunRecord.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <queue>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace zul::history {

namespace {

constexpr std::int64_t kChunk = 64 * 1024;
// Records are appended when a run ends, so a file is in the order of the
// ends; concurrent runners and host processes may disagree by this much.
constexpr std::int64_t kClockSlackMs = 60 * 1000;

int digits(const char* p, std::size_t size, std::size_t at, int n, bool* ok)
{
    int v = 0;
    for (int i = 0; i < n; ++i) {
        const char c = at + std::size_t(i) < size ? p[at + std::size_t(i)] : 'x';
        if (c < '0' || c > '9') {
            *ok = false;
            return 0;
        }
        v = v * 10 + (c - '0');
    }
    return v;
}

// The local zone's offset from UTC at a local time. mktime asks the system's
// zone file each time; offsets change on whole hours, so one per hour is kept.
int localOffset(const std::tm& local)
{
    thread_local int cachedKey = -1;
    thread_local int cachedOffset = 0;
    const int key = ((local.tm_year * 13 + local.tm_mon) * 32 + local.tm_mday) * 24 + local.tm_hour;
    if (key != cachedKey) {
        std::tm t = local;
        t.tm_min = t.tm_sec = 0;
        t.tm_isdst = -1;
        std::tm u = local;
        u.tm_min = u.tm_sec = 0;
        cachedOffset = int(::timegm(&u) - std::mktime(&t));
        cachedKey = key;
    }
    return cachedOffset;
}

// The runners' record of finished runs in the Log folder; rotation adds ".1", ".2", ...
constexpr const char* kRunsFile = "runs.jsonl";

// How a written record's event and end begin, for a look before parsing.
const std::string kEventText = records::fieldStart(records::runfield::kEvent) + '"';
const std::string kEndText = records::fieldStart(records::runfield::kEnd) + '"';
const std::string kRecordStart = '{' + kEventText;

bool has(std::string_view line, std::string_view what)
{
    return ::memmem(line.data(), line.size(), what.data(), what.size()) != nullptr;
}

// The text value of "key":"..." in a flat JSON line, when it holds no escapes.
std::optional<std::string_view> quickString(std::string_view line, std::string_view key)
{
    const char* at = static_cast<const char*>(::memmem(line.data(), line.size(), key.data(), key.size()));
    if (!at)
        return std::nullopt;
    const char* from = at + key.size();
    const char* end = line.data() + line.size();
    const char* to = static_cast<const char*>(std::memchr(from, '"', std::size_t(end - from)));
    if (!to || std::memchr(from, '\\', std::size_t(to - from)))
        return std::nullopt;
    return std::string_view(from, std::size_t(to - from));
}

// Ids are trimmed of blanks (spaces) only, as the plug-in trims them.
std::string trimmedEvent(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return std::string(s);
}

// The length of the white space (ASCII or Unicode) that begins or ends s.
std::size_t spaceAt(std::string_view s, bool atEnd)
{
    static const std::string_view wide[] = {"\xc2\x85",     "\xc2\xa0",     "\xe1\x9a\x80", "\xe2\x80\xa8",
                                            "\xe2\x80\xa9", "\xe2\x80\xaf", "\xe2\x81\x9f", "\xe3\x80\x80"};
    if (s.empty())
        return 0;
    const char c = atEnd ? s.back() : s.front();
    if (c == ' ' || (c >= '\t' && c <= '\r'))
        return 1;
    for (const auto w : wide)
        if (atEnd ? s.ends_with(w) : s.starts_with(w))
            return w.size();
    // U+2000 to U+200A
    const std::string_view three = atEnd ? s.substr(s.size() >= 3 ? s.size() - 3 : 0) : s.substr(0, 3);
    if (three.size() == 3 && three[0] == '\xe2' && three[1] == '\x80' && static_cast<unsigned char>(three[2]) >= 0x80 &&
        static_cast<unsigned char>(three[2]) <= 0x8a)
        return 3;
    return 0;
}

std::string trimmedText(std::string_view s)
{
    while (std::size_t n = spaceAt(s, false))
        s.remove_prefix(n);
    while (std::size_t n = spaceAt(s, true))
        s.remove_suffix(n);
    return std::string(s);
}

// A record that a later run wrote for a runner that died.
bool saysUnfinished(std::string_view outcome)
{
    return has(outcome, records::kUnfinishedMark);
}

// v with that many decimals, a half rounded away from zero (2.25 s is "2.3 s"),
// as the window's texts have always shown it. From the exact decimal digits of
// the double, so only true halves round up.
std::string fixed(double v, int decimals)
{
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.80f", v);
    std::string digits(buf);
    const std::size_t point = digits.find('.');
    const std::size_t cut = point + 1 + std::size_t(decimals);
    const bool up = digits[cut] >= '5';
    digits.resize(decimals > 0 ? cut : point);
    if (up) {
        std::size_t i = digits.size();
        for (;;) {
            if (i == 0 || digits[i - 1] == '-') {
                digits.insert(i, 1, '1');
                break;
            }
            char& d = digits[--i];
            if (d == '.')
                continue;
            if (d < '9') {
                ++d;
                break;
            }
            d = '0';
        }
    }
    return digits;
}

} // namespace

std::string resultWord(Run::Result result)
{
    switch (result) {
    case Run::Result::Success:
        return std::string(records::describe(records::ExitStatus::Success));
    case Run::Result::Failed:
        return "failed";
    case Run::Result::NotStarted:
        return "not started";
    case Run::Result::Unfinished:
        return std::string(records::kUnfinishedWords);
    }
    return {};
}

std::string shownTime(std::string_view stamp)
{
    if (stamp.size() < 19)
        return std::string(stamp);
    std::string t(stamp.substr(0, 19));
    t[10] = ' ';
    return t;
}

std::string shownDuration(std::int64_t ms)
{
    if (ms < 0)
        return "-";
    if (ms < 60'000)
        return fixed(double(ms) / 1000.0, 1) + " s";
    const std::int64_t s = ms / 1000;
    char buf[64];
    if (s < 3600)
        std::snprintf(buf, sizeof buf, "%lld min %02lld s", static_cast<long long>(s / 60),
                      static_cast<long long>(s % 60));
    else
        std::snprintf(buf, sizeof buf, "%lld h %02lld min", static_cast<long long>(s / 3600),
                      static_cast<long long>((s / 60) % 60));
    return buf;
}

std::string shownDuration(const Run& run)
{
    const std::int64_t ms = run.durationMs();
    return ms < 0 && run.result == Run::Result::Unfinished ? "unknown" : shownDuration(ms);
}

std::string shownTransfer(int files, std::int64_t bytes)
{
    std::string size;
    if (bytes < 1000)
        size = std::to_string(bytes) + " B";
    else if (bytes < 1000'000)
        size = fixed(double(bytes) / 1e3, 1) + " kB";
    else if (bytes < 1000'000'000)
        size = fixed(double(bytes) / 1e6, 1) + " MB";
    else
        size = fixed(double(bytes) / 1e9, 2) + " GB";
    return std::to_string(files) + (files == 1 ? " file, " : " files, ") + size;
}

std::optional<std::int64_t> parseStamp(std::string_view text)
{
    const char* t = text.data();
    const std::size_t size = text.size();
    if (size < 19 || t[4] != '-' || t[7] != '-' || (t[10] != 'T' && t[10] != ' ') || t[13] != ':' || t[16] != ':')
        return std::nullopt;
    bool ok = true;
    std::tm tm{};
    tm.tm_year = digits(t, size, 0, 4, &ok) - 1900;
    tm.tm_mon = digits(t, size, 5, 2, &ok) - 1;
    tm.tm_mday = digits(t, size, 8, 2, &ok);
    tm.tm_hour = digits(t, size, 11, 2, &ok);
    tm.tm_min = digits(t, size, 14, 2, &ok);
    tm.tm_sec = digits(t, size, 17, 2, &ok);
    if (!ok)
        return std::nullopt;
    std::size_t i = 19;
    int ms = 0;
    if (i < size && t[i] == '.') {
        int scale = 100;
        for (++i; i < size && t[i] >= '0' && t[i] <= '9'; ++i, scale /= 10)
            ms += (t[i] - '0') * scale;
    }
    std::time_t secs = 0;
    if (i < size && (t[i] == 'Z' || t[i] == '+' || t[i] == '-')) {
        int offset = 0;
        if (t[i] != 'Z') {
            const int sign = t[i] == '-' ? -1 : 1;
            const int hh = digits(t, size, i + 1, 2, &ok);
            const std::size_t mAt = i + 3 < size && t[i + 3] == ':' ? i + 4 : i + 3;
            const int mm = digits(t, size, mAt, 2, &ok);
            if (!ok)
                return std::nullopt;
            offset = sign * (hh * 3600 + mm * 60);
        }
        secs = ::timegm(&tm) - offset;
    } else {
        secs = ::timegm(&tm) - localOffset(tm);
    }
    return std::int64_t(secs) * 1000 + ms;
}

std::string joinPath(std::string_view dir, std::string_view name)
{
    if (name.starts_with('/'))
        return std::string(name);
    std::string d = dir.empty() ? std::string(".") : std::string(dir);
    while (d.size() > 1 && d.back() == '/')
        d.pop_back();
    if (d.back() != '/')
        d += '/';
    return d + std::string(name);
}

std::string_view fileName(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool exists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool isFile(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

ReverseLines::ReverseLines(const std::string& path)
    : ReverseLines(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK))
{
}

ReverseLines::ReverseLines(int fd) : m_fd(fd)
{
    if (m_fd < 0)
        return;
    const off_t size = ::lseek(m_fd, 0, SEEK_END);
    m_pos = size > 0 ? std::int64_t(size) : 0;
    // Drop a last line that has no line end yet.
    while (readMore()) {
        const void* nl = ::memrchr(m_buf.get(), '\n', m_end);
        if (nl) {
            m_end = std::size_t(static_cast<const char*>(nl) - m_buf.get()) + 1;
            return;
        }
    }
    m_end = 0;
}

ReverseLines::~ReverseLines()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ReverseLines::readMore()
{
    if (m_fd < 0 || m_pos == 0)
        return false;
    const std::int64_t n = std::min(kChunk, m_pos);
    auto joined = std::make_unique_for_overwrite<char[]>(std::size_t(n) + m_end);
    const ssize_t got = ::pread(m_fd, joined.get(), std::size_t(n), off_t(m_pos - n));
    if (got != ssize_t(n)) {
        m_pos = 0; // the file shrank under us: what we have is all we read
        return false;
    }
    if (m_end > 0)
        std::memcpy(joined.get() + n, m_buf.get(), m_end);
    m_pos -= n;
    m_end += std::size_t(n);
    m_buf = std::move(joined);
    return true;
}

bool ReverseLines::next(std::string_view& line)
{
    for (;;) {
        const char* data = m_buf.get();
        while (m_end > 0 && (data[m_end - 1] == '\n' || data[m_end - 1] == '\r'))
            --m_end;
        if (m_end == 0) {
            if (!readMore())
                return false;
            continue;
        }
        const void* nl = ::memrchr(data, '\n', m_end);
        if (!nl && readMore())
            continue;
        const std::size_t from = nl ? std::size_t(static_cast<const char*>(nl) - data) + 1 : 0;
        line = std::string_view(data + from, m_end - from);
        m_end = from;
        return true;
    }
}

RunLog::RunLog(std::string logFolder, std::string messageLog)
    : m_logFolder(std::move(logFolder)), m_messageLog(std::move(messageLog))
{
}

std::string RunLog::runsPath() const
{
    return joinPath(m_logFolder, kRunsFile);
}

std::vector<std::string> RunLog::runFiles() const
{
    std::vector<std::string> files{runsPath()};
    for (int k = 1;; ++k) {
        std::string f = runsPath() + '.' + std::to_string(k);
        if (!exists(f))
            break;
        files.push_back(std::move(f));
    }
    return files;
}

std::vector<std::unique_ptr<ReverseLines>> RunLog::openRunFiles() const
{
    // A reader that can neither open nor make the lock file (made by the
    // first rotation), or that waits past a rotation's worth of time for it,
    // reads without it: a history view is never held up for good.
    auto lock = zul::platform::openLockFile(joinPath(m_logFolder, ".runs.jsonl.lock"));
    if (lock)
        zul::platform::lockDescriptor(lock->get(), zul::platform::LockKind::Shared, {std::chrono::seconds(10), {}});
    std::vector<std::unique_ptr<ReverseLines>> files;
    // Log/ is shared: each file is opened in the folder, never through a
    // planted link, never stuck on a FIFO.
    const auto folder = zul::platform::openFolder(m_logFolder);
    for (int k = 0;; ++k) {
        const std::string name = k == 0 ? kRunsFile : kRunsFile + ("." + std::to_string(k));
        auto fd = folder ? zul::platform::openInFolder((*folder).get(), name, O_RDONLY, 0, joinPath(m_logFolder, name))
                         : zul::platform::Result<zul::platform::UniqueFd>(folder.error());
        if (!fd && k > 0)
            break;
        files.push_back(std::make_unique<ReverseLines>(fd ? fd->release() : -1));
    }
    return files;
}

std::string RunLog::transcriptFile(const Run& run) const
{
    if (run.transcript.empty())
        return {};
    // Only by its name in our Log folder: any user of the group can write a
    // record, and it could name any file (or a folder that moved since).
    std::string inLog = joinPath(m_logFolder, fileName(run.transcript));
    return isFile(inLog) ? inLog : std::string();
}

std::optional<Run> RunLog::fromRunRecord(std::string_view line)
{
    auto read = records::readRunRecord(line);
    if (!read)
        return std::nullopt;
    records::RunRecord& r = read->record;
    Run e;
    e.source = Run::Source::Runner;
    e.event = trimmedEvent(r.event);
    e.start = std::move(r.start);
    e.end = std::move(r.end);
    const auto start = parseStamp(e.start);
    if (!start)
        return std::nullopt;
    e.startMs = *start;
    if (const auto end = parseStamp(e.end))
        e.endMs = *end;
    if (read->hasExit)
        e.exitStatus = r.exitStatus;
    e.outcome = std::move(r.outcome);
    if (e.outcome.empty() && e.exitStatus)
        e.outcome = records::exitStatusWords(*e.exitStatus);
    if (e.endMs < 0 || !e.exitStatus || saysUnfinished(e.outcome)) {
        e.result = Run::Result::Unfinished;
        if (e.outcome.empty())
            e.outcome = records::kUnfinishedWords;
    } else {
        e.result = *e.exitStatus == 0 ? Run::Result::Success : Run::Result::Failed;
    }
    // A received file that could not be delivered waits in Junction/ for a later run.
    if (!r.kept.empty())
        e.outcome += (e.outcome.empty() ? "" : "; ") + std::string("received, not delivered: kept as ") + r.kept;
    e.filesUp = r.filesUp;
    e.filesDown = r.filesDown;
    e.bytesUp = r.bytesUp;
    e.bytesDown = r.bytesDown;
    e.transcript = std::move(r.transcript);
    return e;
}

namespace {

// Any plain value of a host message's argument as text: "true", "12", "1.5", the string itself.
std::string plainText(const nlohmann::json& v)
{
    if (v.is_string())
        return v.get<std::string>();
    if (v.is_boolean())
        return v.get<bool>() ? "true" : "false";
    if (v.is_number_unsigned())
        return std::to_string(v.get<std::uint64_t>());
    if (v.is_number_integer())
        return std::to_string(v.get<std::int64_t>());
    if (v.is_number_float()) {
        char buf[64];
        const auto r = std::to_chars(buf, buf + sizeof buf, v.get<double>());
        return std::string(buf, r.ptr);
    }
    return {};
}

int messageNumber(const nlohmann::json& v)
{
    if (v.is_number_integer() && v.get<std::int64_t>() >= INT_MIN && v.get<std::int64_t>() <= INT_MAX)
        return int(v.get<std::int64_t>());
    if (v.is_number_float() && v.get<double>() == std::trunc(v.get<double>()) && std::abs(v.get<double>()) < 1e9)
        return int(v.get<double>());
    return 0;
}

} // namespace

std::optional<HostMessage> parseHostMessage(std::string_view line)
{
    const auto o = nlohmann::json::parse(line.begin(), line.end(), nullptr, false);
    if (!o.is_object())
        return std::nullopt;
    const auto text = [&](const char* name) {
        const auto v = o.find(name);
        return v != o.end() && v->is_string() ? v->get<std::string>() : std::string();
    };
    HostMessage m;
    m.at = text("at");
    m.kind = text("kind");
    m.message = text("message");
    if (const auto numbers = o.find("numbers"); numbers != o.end() && numbers->is_array())
        for (const auto& n : *numbers)
            m.numbers.push_back(messageNumber(n));
    // args: False, the numbers (or the one text), the kind letter, the rest
    const auto args = o.find("args");
    const std::size_t from = 1 + std::max<std::size_t>(m.numbers.size(), 1) + 1;
    if (args != o.end() && args->is_array())
        for (std::size_t k = from; k < args->size(); ++k) {
            const auto& a = (*args)[k];
            const auto value = a.is_object() ? a.find("value") : a.end();
            m.rest.push_back(a.is_object() && value != a.end() ? plainText(*value) : std::string());
        }
    return m;
}

std::optional<Run> RunLog::fromHostMessage(std::string_view line)
{
    // Run-log entries ("L") that say no runner was started: the partner did
    // not answer, or the run failed before the start.
    const auto m = parseHostMessage(line);
    if (!m || m->kind != "L")
        return std::nullopt;
    const int first = m->numbers.empty() ? 0 : m->numbers[0];
    if (first != 4107 && first != 3281)
        return std::nullopt;
    Run e;
    e.source = Run::Source::Host;
    e.result = Run::Result::NotStarted;
    e.event = trimmedEvent(m->arg(0));
    e.start = m->at;
    const auto stamp = parseStamp(e.start);
    if (!stamp)
        return std::nullopt;
    e.startMs = *stamp;
    const std::string text = trimmedText(m->arg(6));
    e.outcome = std::string(first == 4107 ? "partner did not answer" : "failed before the start") +
                (text.empty() ? std::string() : ": " + text);
    return e;
}

namespace {

bool maybeHostFailure(std::string_view line)
{
    constexpr std::string_view numbers = "\"numbers\":[";
    for (std::string_view rest = line;;) {
        const char* at = static_cast<const char*>(::memmem(rest.data(), rest.size(), numbers.data(), numbers.size()));
        if (!at)
            return false;
        rest = rest.substr(std::size_t(at - rest.data()) + numbers.size());
        if (rest.starts_with("4107") || rest.starts_with("3281"))
            return has(line, "\"kind\":\"L\"");
    }
}

// False only when the line cannot be about the event: its text holds no
// escapes, so the event's bytes would be there as they are.
bool mayNameEvent(std::string_view line, std::string_view event)
{
    return event.empty() || has(line, event) || line.find('\\') != std::string_view::npos;
}

// The event of a run record without parsing all of it; nullopt when the quick
// look is not enough.
std::optional<std::string_view> quickEvent(std::string_view line)
{
    // The last record's, should a cut-short one have another glued to it.
    const std::string_view key = kRecordStart;
    const char* from = line.data();
    const char* end = line.data() + line.size();
    // A flat record has no other brace: then the first key is the one.
    const bool glued = line.size() > 1 && std::memchr(from + 1, '{', line.size() - 1);
    while (glued && end - from > 1) {
        const void* next = ::memmem(from + 1, std::size_t(end - from - 1), key.data(), key.size());
        if (!next)
            break;
        from = static_cast<const char*>(next);
    }
    auto v = quickString(std::string_view(from, std::size_t(end - from)), kEventText);
    if (!v)
        return std::nullopt;
    while (!v->empty() && v->front() == ' ')
        v->remove_prefix(1);
    while (!v->empty() && v->back() == ' ')
        v->remove_suffix(1);
    return v;
}

// When the line was appended, as near as the record tells: its end.
std::optional<std::int64_t> appendedAt(std::string_view line, std::string_view key)
{
    const auto v = quickString(line, key);
    if (!v || v->empty())
        return std::nullopt;
    return parseStamp(*v);
}

// A backward scan stops once this many lines in a row were written before the
// oldest time that still matters. The record of a run that died is appended
// when a later run finds it, with that run's old times: it does not count, and
// neither would one stray line.
constexpr int kOlderInARow = 32;

class ScanEnd {
public:
    bool reached(std::string_view line, std::string_view key, std::int64_t threshold)
    {
        const auto writtenAt = appendedAt(line, key);
        if (!writtenAt)
            return false;
        if (*writtenAt + kClockSlackMs >= threshold) {
            m_older = 0;
            return false;
        }
        if (has(line, records::kUnfinishedMark))
            return false;
        return ++m_older >= kOlderInARow;
    }

private:
    int m_older = 0;
};

} // namespace

std::vector<Run> RunLog::read(std::string_view event, int limit) const
{
    std::vector<Run> out;
    // The starts of the newest `limit` runs found so far; once full, its top
    // is the oldest start that can still make the list.
    std::priority_queue<std::int64_t, std::vector<std::int64_t>, std::greater<>> newest;
    auto threshold = [&]() -> std::int64_t {
        return limit > 0 && int(newest.size()) >= limit ? newest.top() : LLONG_MIN;
    };
    auto keep = [&](Run e) {
        if (limit > 0) {
            if (int(newest.size()) >= limit && e.startMs <= newest.top())
                return;
            newest.push(e.startMs);
            if (int(newest.size()) > limit)
                newest.pop();
        }
        out.push_back(std::move(e));
    };

    std::string_view line;
    bool done = false;
    ScanEnd runsEnd;
    for (const auto& file : openRunFiles()) {
        ReverseLines& lines = *file;
        while (!done && lines.next(line)) {
            if (threshold() != LLONG_MIN && runsEnd.reached(line, kEndText, threshold())) {
                done = true;
                break;
            }
            if (!event.empty()) {
                const auto quick = quickEvent(line);
                if (quick && *quick != event)
                    continue;
            }
            auto e = fromRunRecord(line);
            if (e && (event.empty() || e->event == event))
                keep(std::move(*e));
        }
        if (done)
            break;
    }

    ReverseLines messages(m_messageLog);
    ScanEnd messagesEnd;
    while (messages.next(line)) {
        if (threshold() != LLONG_MIN && messagesEnd.reached(line, "\"at\":\"", threshold()))
            break;
        if (!maybeHostFailure(line) || !mayNameEvent(line, event))
            continue;
        auto e = fromHostMessage(line);
        if (e && (event.empty() || e->event == event))
            keep(std::move(*e));
    }

    std::stable_sort(out.begin(), out.end(), [](const Run& a, const Run& b) { return a.startMs > b.startMs; });
    if (limit > 0 && int(out.size()) > limit)
        out.resize(std::size_t(limit));
    return out;
}

std::map<std::string, Run> RunLog::latest(const std::vector<std::string>& events) const
{
    std::map<std::string, Run> found;
    const std::set<std::string, std::less<>> wanted(events.begin(), events.end());
    auto listed = [&](const std::string& e) { return std::find(events.begin(), events.end(), e) != events.end(); };
    std::string_view line;
    for (const auto& file : openRunFiles()) {
        if (found.size() >= events.size())
            break;
        ReverseLines& lines = *file;
        while (found.size() < events.size() && lines.next(line)) {
            const auto quick = quickEvent(line);
            if (quick && (!wanted.count(*quick) || found.count(std::string(*quick))))
                continue;
            auto e = fromRunRecord(line);
            if (e && listed(e->event) && !found.count(e->event))
                found.emplace(e->event, std::move(*e));
        }
    }
    // A host failure newer than the runner's record is the latest run. Once
    // past the oldest of those records, older failures cannot matter.
    std::int64_t oldest = LLONG_MAX;
    if (found.size() < events.size())
        oldest = LLONG_MIN;
    for (const auto& [id, e] : found)
        oldest = std::min(oldest, e.startMs);
    ReverseLines messages(m_messageLog);
    std::map<std::string, bool> hostSeen;
    ScanEnd messagesEnd;
    while (hostSeen.size() < events.size() && messages.next(line)) {
        if (oldest != LLONG_MIN && messagesEnd.reached(line, "\"at\":\"", oldest))
            break;
        if (!maybeHostFailure(line))
            continue;
        auto e = fromHostMessage(line);
        if (!e || !listed(e->event) || hostSeen[e->event])
            continue;
        hostSeen[e->event] = true;
        auto it = found.find(e->event);
        if (it == found.end())
            found.emplace(e->event, std::move(*e));
        else if (e->startMs > it->second.startMs)
            it->second = std::move(*e);
    }
    return found;
}

} // namespace zul::history
