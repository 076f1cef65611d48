#include "runner/Transcript.h"

#include "platform/CodePage.h"
#include "platform/FileLock.h"
#include "platform/SafeOpen.h"
#include "platform/Text.h"

#include "runner/LocalFiles.h"
#include "runner/Masking.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <system_error>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace zul::runner {

namespace {
// "HH:MM:SS.mmm", the time of day to the millisecond: the part up to the
// second is formatted once a second, not once a line.
std::string clockText()
{
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    thread_local time_t second = -1;
    thread_local char hms[9] = {};
    if (tv.tv_sec != second) {
        tm t{};
        ::localtime_r(&tv.tv_sec, &t);
        std::snprintf(hms, sizeof hms, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
        second = tv.tv_sec;
    }
    const int ms = int(tv.tv_usec / 1000);
    const char text[] = {hms[0], hms[1], hms[2], hms[3], hms[4], hms[5], hms[6], hms[7], '.',
                         char('0' + ms / 100), char('0' + ms / 10 % 10), char('0' + ms % 10)};
    return std::string(text, sizeof text);
}
} // namespace

Transcript::~Transcript()
{
    {
        const std::lock_guard lock(m_pendingMutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_writer.joinable())
        m_writer.join();
    flush();
    if (m_file)
        std::fclose(m_file);
}

bool Transcript::open(const std::string& path)
{
    // A new file, never one someone put there: readable by the group's history.
    auto fd = zul::platform::openNoFollow(path, O_WRONLY | O_CREAT | O_EXCL, 0640);
    const std::lock_guard file(m_fileMutex);
    m_file = fd ? ::fdopen(fd->get(), "w") : nullptr;
    if (!m_file) {
        m_errno = fd ? errno : EIO;
        m_failedPath = path;
        if (!fd)
            m_openFailure = fd.error().description;
        return false;
    }
    fd->release();
    m_path = path;
    return true;
}

std::string Transcript::failure()
{
    flush();
    const std::lock_guard file(m_fileMutex);
    if (m_errno == 0)
        return {};
    if (!m_openFailure.empty())
        return "cannot write the transcript " + m_failedPath + ": " + m_openFailure;
    return "cannot write the transcript " + m_failedPath + ": " + std::strerror(m_errno);
}

void Transcript::addSecret(std::string secret)
{
    // Short ones too: a masked word in a transcript costs less than a password in it.
    if (!secret.empty())
        m_secrets.push_back(std::move(secret));
}

std::string Transcript::scrub(std::string_view text) const
{
    return maskSecrets(maskEchoedCommands(std::string(text)), m_secrets);
}

void Transcript::write(char tag, std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    // Server text is escaped: one transcript line per event, and nothing for a terminal to obey.
    std::string line = clockText() + ' ' + tag + ' ' + platform::escapeControls(scrub(text)) + '\n';
    if (m_echo) {
        flush();
        const std::lock_guard file(m_fileMutex);
        output(line);
    } else {
        writeLater(std::move(line));
    }
}

void Transcript::writeLater(std::string&& line)
{
    std::unique_lock lock(m_pendingMutex);
    const bool first = m_pending.empty();
    m_pending += line;
    if (!m_writer.joinable() && !m_writeNow) {
        // Signals stay with the run's own thread: a cancel must wake its waits.
        sigset_t all, old;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &old);
        try {
            m_writer = std::thread(&Transcript::writer, this);
        } catch (const std::system_error&) {
            m_writeNow = true; // no thread to be had: every line is written at once
        }
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
    if (m_writeNow) {
        writeTaken(lock);
        return;
    }
    lock.unlock();
    if (first)
        m_wake.notify_one();
}

void Transcript::writer()
{
    std::unique_lock lock(m_pendingMutex);
    while (!m_stopping) {
        m_wake.wait(lock, [this] { return m_stopping || !m_pending.empty(); });
        // The lines that follow within writeDelay go out in the same write.
        m_wake.wait_for(lock, writeDelay, [this] { return m_stopping; });
        writeTaken(lock);
    }
}

// Writes what is pending. The file lock, taken before the pending lock is let
// go, keeps the writes in the order the lines were taken; taken with nothing
// pending too, it waits for lines the writer took and is writing still.
void Transcript::writeTaken(std::unique_lock<std::mutex>& pending)
{
    std::string lines;
    lines.swap(m_pending);
    {
        const std::lock_guard file(m_fileMutex);
        pending.unlock();
        if (!lines.empty())
            output(lines);
    }
    pending.lock();
}

void Transcript::flush()
{
    std::unique_lock lock(m_pendingMutex);
    writeTaken(lock);
}

void Transcript::output(std::string_view lines)
{
    if (m_file && m_errno == 0) {
        errno = 0;
        if (std::fwrite(lines.data(), 1, lines.size(), m_file) != lines.size() || std::fflush(m_file) != 0) {
            m_errno = errno ? errno : EIO;
            m_failedPath = m_path;
        }
    }
    if (m_echo) {
        std::fputs("\r\033[K", stderr); // over a progress bar, if one is drawn
        std::fwrite(lines.data(), 1, lines.size(), stderr);
    }
}

void Transcript::note(std::string_view text)
{
    write('*', text);
}

void Transcript::script(int line, std::string_view shown)
{
    write('#', "line " + std::to_string(line) + ": " + std::string(shown));
}

void Transcript::sent(std::string_view command)
{
    // PASS and ACCT carry passwords, whoever sent them and in whatever letter case.
    write('>', maskCommand(command));
}

void Transcript::reply(std::string_view reply)
{
    write('<', reply);
}

void Transcript::error(std::string_view text)
{
    write('!', text);
}

void ProgressBar::command(int line, std::string_view word)
{
    m_status.line = line;
    m_status.command.clear();
    for (const char c : word)
        m_status.command += c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    m_status.file.clear();
    m_status.done = 0;
    m_status.total = -1;
    m_status.rate = 0;
    report(std::chrono::steady_clock::now(), false);
}

// Writes only when statusEvery has passed; what changed meanwhile goes with
// the next call that finds the interval over.
void ProgressBar::report(std::chrono::steady_clock::time_point now, bool force)
{
    if (!m_statusSink)
        return;
    m_statusDirty = true;
    if (!force && now - m_lastStatus < statusEvery)
        return;
    m_lastStatus = now;
    m_statusDirty = false;
    m_statusSink(m_status);
}

void ProgressBar::begin(const std::string& name, std::int64_t total)
{
    m_status.file = platform::escapeControls(name, "");
    m_status.done = 0;
    m_status.total = total;
    m_status.rate = 0;
    m_moveStart = m_rateAt = std::chrono::steady_clock::now();
    report(m_moveStart, false);
    if (!m_enabled)
        return;
    m_name = platform::escapeControls(name, ""); // a server's name, drawn on a terminal
    if (m_name.size() > 24)
        m_name = "..." + m_name.substr(m_name.size() - 21);
    m_total = total;
    m_start = m_last = std::chrono::steady_clock::now();
    m_active = true;
}

void ProgressBar::update(std::int64_t done, std::int64_t total)
{
    const auto now = std::chrono::steady_clock::now();
    if (m_alive && now - m_lastAlive >= std::chrono::seconds(1)) {
        m_lastAlive = now;
        m_alive();
    }
    if (m_statusSink && now - m_lastStatus >= statusEvery) {
        // The rate of late, smoothed: a stalled transfer's falls towards nothing
        // instead of living on its early average.
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_rateAt).count();
        const std::int64_t lately = ms > 0 ? (done - m_status.done) * 1000 / ms : 0;
        m_status.rate = m_rateAt == m_moveStart ? lately : (m_status.rate * 3 + lately) / 4;
        m_rateAt = now;
        m_status.done = done;
        if (total > 0)
            m_status.total = total;
        report(now, true);
    }
    if (!m_active)
        return;
    if (now - m_last < std::chrono::milliseconds(100))
        return;
    m_last = now;
    if (total > 0)
        m_total = total;
    const double secs = std::chrono::duration<double>(now - m_start).count();
    constexpr int width = 30;
    char line[160];
    if (m_total > 0) {
        const int pct = int(done * 100 / m_total);
        const int fill = int(done * width / m_total);
        std::string bar(std::size_t(std::min(fill, width)), '#');
        bar.resize(width, ' ');
        std::snprintf(line, sizeof line, "\r%-24s [%s] %3d%% %s   ", m_name.c_str(), bar.c_str(), std::min(pct, 100),
                      formatRate(done, secs).c_str());
    } else {
        std::snprintf(line, sizeof line, "\r%-24s %lld bytes %s   ", m_name.c_str(), static_cast<long long>(done),
                      formatRate(done, secs).c_str());
    }
    std::fputs(line, stderr);
}

void ProgressBar::expect(std::int64_t total)
{
    m_status.total = total;
    m_total = total;
}

void ProgressBar::end()
{
    m_status.file.clear();
    m_status.done = 0;
    m_status.total = -1;
    m_status.rate = 0;
    if (m_statusDirty)
        report(std::chrono::steady_clock::now(), false);
    if (!m_active)
        return;
    m_active = false;
    std::fputs("\r\033[K", stderr);
}

std::string isoNow()
{
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    tm t{};
    ::localtime_r(&tv.tv_sec, &t);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &t);
    char zone[8];
    std::strftime(zone, sizeof zone, "%z", &t);
    return std::string(buf) + "." + std::to_string(1000 + tv.tv_usec / 1000).substr(1) + zone;
}

bool appendRunRecord(const std::string& path, const RunRecord& r, std::string* why)
{
    return appendRunLine(path, records::runRecordLine(r), why);
}

bool appendRunLine(const std::string& path, std::string_view line, std::string* why)
{
    // Every user of the group appends here; never through a link.
    auto opened = zul::platform::openNoFollow(path, O_WRONLY | O_CREAT | O_APPEND, 0660);
    if (!opened) {
        if (why)
            *why = opened.error().description;
        return false;
    }
    // Appenders take turns, so that the length before this write is this
    // record's start and cutting back cannot touch another runner's line.
    int err = 0;
    if (zul::platform::lockDescriptor(opened->get(), zul::platform::LockKind::Exclusive, {}, &err) ==
        zul::platform::LockOutcome::Failed) {
        if (why)
            *why = std::string("cannot lock: ") + std::strerror(err);
        return false;
    }
    const int fd = opened->release();
    struct stat st {};
    const bool sized = ::fstat(fd, &st) == 0;
    errno = 0;
    ssize_t n = ::write(fd, line.data(), line.size());
    // A short write says nothing of its cause; the write of the rest does.
    if (n >= 0 && std::size_t(n) < line.size())
        if (const ssize_t more = ::write(fd, line.data() + n, line.size() - std::size_t(n)); more > 0)
            n += more;
    const bool whole = n == ssize_t(line.size());
    if (!whole && why)
        *why = std::strerror(errno ? errno : EIO);
    if (!whole && n > 0 && sized) {
        [[maybe_unused]] const int cut = ::ftruncate(fd, st.st_size);
    }
    ::close(fd);
    return whole;
}

std::string formatRate(std::int64_t bytes, double seconds)
{
    if (seconds <= 0)
        seconds = 1e-6;
    const double rate = double(bytes) / seconds;
    char buf[32];
    if (rate >= 1e9)
        std::snprintf(buf, sizeof buf, "%.2f GB/s", rate / 1e9);
    else if (rate >= 1e6)
        std::snprintf(buf, sizeof buf, "%.1f MB/s", rate / 1e6);
    else
        std::snprintf(buf, sizeof buf, "%.1f kB/s", rate / 1e3);
    return buf;
}

} // namespace zul::runner
