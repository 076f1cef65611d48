#include "runner/RunSpool.h"

#include "runner/Housekeeping.h"
#include "runner/Transcript.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zul::runner {

namespace {

constexpr std::string_view kSuffix = ".json";

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// The spool folder, opened without following a link; made when missing.
int openSpool(const std::string& logFolder, bool make)
{
    const std::string folder = spoolFolder(logFolder);
    if (make && ::mkdir(folder.c_str(), 0770) == 0)
        (void)::chmod(folder.c_str(), 0770);
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool writeWhole(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

// A spooled file holds one record line, as the runner writes them.
bool isRecordLine(std::string_view text)
{
    return text.size() > 12 && text.starts_with("{\"event\":") && text.ends_with("}\n") &&
           text.find('\n') == text.size() - 1;
}

std::string readSmall(int dir, const char* name)
{
    Fd f{::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
    std::string text;
    if (f.fd < 0)
        return text;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(f.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || text.size() > (1 << 20))
            break;
        text.append(buf, std::size_t(n));
    }
    return text;
}

} // namespace

std::string spoolFolder(const std::string& logFolder)
{
    return logFolder + "/spool";
}

std::string spoolRunLine(const std::string& logFolder, std::string_view line, std::string* why)
{
    Fd dir{openSpool(logFolder, true)};
    if (dir.fd < 0) {
        *why = "cannot open " + spoolFolder(logFolder) + ": " + std::strerror(errno);
        return {};
    }
    // Named by the time it was kept, so that names sort as the records came.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "%012lld.%09ld-%d-%d%.*s", static_cast<long long>(now.tv_sec),
                      long(now.tv_nsec), int(::getpid()), attempt, int(kSuffix.size()), kSuffix.data());
        Fd f{::openat(dir.fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0660)};
        if (f.fd < 0 && errno == EEXIST)
            continue;
        const std::string path = spoolFolder(logFolder) + "/" + name;
        if (f.fd < 0) {
            *why = "cannot create " + path + ": " + std::strerror(errno);
            return {};
        }
        (void)::fchmod(f.fd, 0660);
        if (!writeWhole(f.fd, line) || ::fsync(f.fd) != 0) {
            *why = "cannot write " + path + ": " + std::strerror(errno);
            ::unlinkat(dir.fd, name, 0);
            return {};
        }
        return path;
    }
    *why = "cannot find a free name in " + spoolFolder(logFolder);
    return {};
}

SpoolResult appendSpooled(const std::string& logFolder)
{
    SpoolResult r;
    Fd dir{openSpool(logFolder, false)};
    if (dir.fd < 0) {
        if (errno != ENOENT)
            r.error = "cannot open " + spoolFolder(logFolder) + ": " + std::strerror(errno);
        return r;
    }
    std::vector<std::string> names;
    if (DIR* d = ::fdopendir(::dup(dir.fd))) {
        while (const dirent* e = ::readdir(d)) {
            const std::string_view name(e->d_name);
            struct stat st {};
            if (name.size() > kSuffix.size() && name.ends_with(kSuffix) && name.front() != '.' &&
                ::fstatat(dir.fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
                st.st_uid == ::geteuid())
                names.emplace_back(name);
        }
        ::closedir(d);
    }
    if (names.empty())
        return r;
    std::sort(names.begin(), names.end());
    // One runner at a time: two would append the same record twice.
    Fd lock{lockRunLog(logFolder, &r.error)};
    if (lock.fd < 0)
        return r;
    for (const auto& name : names) {
        const std::string text = readSmall(dir.fd, name.c_str());
        if (text.empty())
            continue; // taken by a runner before us
        const std::string path = spoolFolder(logFolder) + "/" + name;
        if (!isRecordLine(text)) {
            if (r.error.empty())
                r.error = path + " holds no run record; left as it is";
            continue;
        }
        std::string why;
        if (!appendRunLine(logFolder + "/runs.jsonl", text, &why)) {
            r.error = "the run records in " + spoolFolder(logFolder) + " still wait: cannot append to " + logFolder +
                      "/runs.jsonl: " + why;
            break;
        }
        ::unlinkat(dir.fd, name.c_str(), 0);
        ++r.appended;
    }
    return r;
}

std::string recordRun(const std::string& logFolder, const RunRecord& record)
{
    const std::string runs = logFolder + "/runs.jsonl";
    std::string why;
    const std::string line = toJsonLine(record);
    if (appendRunLine(runs, line, &why))
        return {};
    std::string spoolWhy;
    const std::string kept = spoolRunLine(logFolder, line, &spoolWhy);
    std::string text = "cannot append the run record to " + runs + ": " + why;
    if (!kept.empty())
        return text + "; it waits in " + kept + " for the next run to append it";
    std::string shown = line;
    shown.pop_back();
    return text + "; nor keep it: " + spoolWhy + "; the record: " + shown;
}

} // namespace zul::runner
