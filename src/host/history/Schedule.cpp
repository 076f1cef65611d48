#include "host/history/Schedule.h"

#include "host/history/Commands.h"
#include "host/history/RunLog.h"
#include "platform/FileSystem.h"
#include "platform/SafeOpen.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zul::history {

namespace {

constexpr const char* kUnitFolder = "/etc/systemd/system";

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The test of sd_booted(): this folder exists only while systemd is the init.
bool systemdRuns()
{
    const std::string marker =
        env("QORVHOST_SYSTEMD_MARKER").empty() ? "/run/systemd/system" : env("QORVHOST_SYSTEMD_MARKER");
    struct stat st {};
    return ::lstat(marker.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Runs a program found on the PATH without a shell; its output is the
// operator's (on standard error when standard output is kept for a crontab line). The exit status, or -1 when it could
// not start.
int runProgram(const std::vector<std::string>& args, bool outputToStderr = false)
{
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputToStderr)
        posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    pid_t pid = 0;
    std::fflush(stdout);
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Instance names of a template unit hold these without escaping.
bool unitSafe(const std::string& id)
{
    return !id.empty() && id.size() <= 64 && id.front() != '-' && id.front() != '.' &&
           std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                      c == '-' || c == '.';
           });
}

std::string timerName(const std::string& id)
{
    return "zul-run@" + id + ".timer";
}

// A word as /bin/sh reads it in a crontab line ('%' is a line end to cron).
std::string shellWord(const std::string& word)
{
    const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               std::strchr("_-./=:,@+", c) != nullptr;
    });
    std::string out = plain ? "" : "'";
    for (const char c : word) {
        if (c == '\'' && !plain)
            out += "'\\''";
        else if (c == '%')
            out += "\\%";
        else
            out += c;
    }
    return plain ? out : out + "'";
}

std::vector<std::string> split(const std::string& text, char by)
{
    std::vector<std::string> out;
    std::string part;
    for (const char c : text) {
        if (c == by) {
            out.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    out.push_back(part);
    return out;
}

std::optional<int> number(const std::string& s, int low, int high)
{
    if (s.empty() || s.size() > 4 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int n = std::atoi(s.c_str());
    if (n < low || n > high)
        return std::nullopt;
    return n;
}

// One field of a calendar expression ("*", "2", "1,15", "8..17", "0/15")
// in cron's words, or nullopt.
std::optional<std::string> cronField(const std::string& field, int low, int high)
{
    std::string out;
    for (const std::string& item : split(field, ',')) {
        std::string cron;
        std::string base = item;
        std::string step;
        if (const auto slash = item.find('/'); slash != std::string::npos) {
            base = item.substr(0, slash);
            const auto s = number(item.substr(slash + 1), 1, high);
            if (!s)
                return std::nullopt;
            step = "/" + std::to_string(*s);
        }
        if (base == "*") {
            cron = "*";
        } else if (const auto dots = base.find(".."); dots != std::string::npos) {
            const auto a = number(base.substr(0, dots), low, high);
            const auto b = number(base.substr(dots + 2), low, high);
            if (!a || !b || *a > *b)
                return std::nullopt;
            cron = std::to_string(*a) + "-" + std::to_string(*b);
        } else {
            const auto a = number(base, low, high);
            if (!a)
                return std::nullopt;
            // "A/S" starts at A and repeats to the field's end.
            cron = std::to_string(*a) + (step.empty() ? "" : "-" + std::to_string(high));
        }
        out += (out.empty() ? "" : ",") + cron + step;
    }
    return out;
}

std::optional<int> weekday(std::string name)
{
    for (char& c : name)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    static const char* const kDays[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
    static const char* const kLong[] = {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"};
    for (int i = 0; i < 7; ++i)
        if (name == kDays[i] || name == kLong[i])
            return i;
    return std::nullopt;
}

// "Mon..Fri,Sun" as cron's day numbers, Sunday 0; systemd's week runs Monday to Sunday.
std::optional<std::string> cronWeekdays(const std::string& field)
{
    std::vector<int> days;
    for (const std::string& item : split(field, ',')) {
        const auto dots = item.find("..");
        const auto a = weekday(item.substr(0, dots));
        const auto b = dots == std::string::npos ? a : weekday(item.substr(dots + 2));
        if (!a || !b)
            return std::nullopt;
        auto order = [](int d) { return d == 0 ? 7 : d; };
        if (order(*a) > order(*b))
            return std::nullopt;
        for (int d = order(*a); d <= order(*b); ++d)
            days.push_back(d % 7);
    }
    std::sort(days.begin(), days.end());
    days.erase(std::unique(days.begin(), days.end()), days.end());
    std::string out;
    for (std::size_t i = 0; i < days.size();) {
        std::size_t j = i;
        while (j + 1 < days.size() && days[j + 1] == days[j] + 1)
            ++j;
        out += (out.empty() ? "" : ",") + std::to_string(days[i]);
        if (j > i)
            out += (j == i + 1 ? "," : "-") + std::to_string(days[j]);
        i = j + 1;
    }
    return out;
}

std::string hostProgram()
{
    return joinPath(programFolder(), "qorvhost");
}

std::string cronCommand(const std::vector<std::string>& hostOptions, const std::string& id)
{
    std::string line = shellWord(hostProgram());
    for (const std::string& o : hostOptions)
        line += " " + shellWord(o);
    return line + " run " + id + " --wait";
}

int listTimers()
{
    // Only a missing folder holds no timers; an unreadable one is no empty schedule.
    auto dir = platform::openFolder(kUnitFolder);
    if (!dir)
        return dir.error().code == platform::ErrorCode::FileNotFound
                   ? 0
                   : fail("cannot list the timers: " + dir.error().description);
    const auto names = platform::namesIn(dir->get(), kUnitFolder);
    if (!names)
        return fail("cannot list the timers: " + names.error().description);
    std::vector<std::pair<std::string, std::string>> timers;
    for (const std::string& name : *names) {
        if (!name.starts_with("zul-run@") || !name.ends_with(".timer") || name.size() <= 14)
            continue;
        std::string when;
        if (std::FILE* f = std::fopen(joinPath(kUnitFolder, name).c_str(), "re")) {
            char line[1024];
            while (std::fgets(line, sizeof line, f)) {
                const std::string_view l(line);
                if (l.starts_with("OnCalendar="))
                    when = std::string(l.substr(11, l.find_last_not_of("\r\n") - 10));
            }
            std::fclose(f);
        }
        timers.emplace_back(name.substr(8, name.size() - 14), when);
    }
    std::sort(timers.begin(), timers.end());
    for (const auto& [id, when] : timers)
        std::printf("%s\t%s\n", id.c_str(), when.c_str());
    return 0;
}

} // namespace

std::string timerUnit(const std::string& id, const std::string& when)
{
    return "# Written by qorvhost schedule; removed by: qorvhost schedule " + id +
           " --off\n[Unit]\nDescription=Schedule of FTP client event " + id +
           "\nDocumentation=man:qorvhost(1)\n\n[Timer]\nOnCalendar=" + when +
           "\nPersistent=true\n\n[Install]\nWantedBy=timers.target\n";
}

std::optional<std::string> cronFields(const std::string& when, std::string* why)
{
    auto no = [&](const std::string& reason) -> std::optional<std::string> {
        *why = reason;
        return std::nullopt;
    };
    static const std::pair<const char*, const char*> kShort[] = {
        {"minutely", "*-*-* *:*:00"},
        {"hourly", "*-*-* *:00:00"},
        {"daily", "*-*-* 00:00:00"},
        {"weekly", "Mon *-*-* 00:00:00"},
        {"monthly", "*-*-01 00:00:00"},
        {"yearly", "*-01-01 00:00:00"},
        {"annually", "*-01-01 00:00:00"},
        {"quarterly", "*-01,04,07,10-01 00:00:00"},
        {"semiannually", "*-01,07-01 00:00:00"},
    };
    std::string text = when;
    for (const auto& [name, full] : kShort)
        if (text == name)
            text = full;
    std::string days;
    std::string date = "*-*-*";
    std::string time = "00:00:00";
    bool haveDate = false;
    bool haveTime = false;
    for (const std::string& token : split(text, ' ')) {
        if (token.empty())
            continue;
        if (token.find(':') != std::string::npos && !haveTime) {
            time = token;
            haveTime = true;
        } else if (token.find('-') != std::string::npos && !haveDate && !haveTime) {
            date = token;
            haveDate = true;
        } else if (days.empty() && !haveDate && !haveTime && cronWeekdays(token)) {
            days = token;
        } else {
            return no("cron cannot say '" + token + "' (a time zone or an unknown part)");
        }
    }
    auto d = split(date, '-');
    if (d.size() == 2)
        d.insert(d.begin(), "*");
    if (d.size() != 3)
        return no("the date '" + date + "' is not YEAR-MONTH-DAY");
    if (d[0] != "*")
        return no("cron has no years: the date must begin with *");
    auto t = split(time, ':');
    if (t.size() == 2)
        t.emplace_back("00");
    if (t.size() != 3)
        return no("the time '" + time + "' is not HOUR:MINUTE[:SECOND]");
    if (t[2] != "00" && t[2] != "0")
        return no("cron starts on the minute: the seconds must be 00");
    const auto minute = cronField(t[1], 0, 59);
    const auto hour = cronField(t[0], 0, 23);
    const auto day = cronField(d[2], 1, 31);
    const auto month = cronField(d[1], 1, 12);
    if (!minute || !hour || !day || !month)
        return no("cron cannot say '" + when + "'");
    const std::string dow = days.empty() ? "*" : *cronWeekdays(days);
    if (dow != "*" && *day != "*")
        return no("cron runs on either a weekday or a day of the month, not only when both match");
    return *minute + " " + *hour + " " + *day + " " + *month + " " + dow;
}

int scheduleCommand(const std::string& pluginPath, const std::vector<std::string>& hostOptions,
                    const std::vector<std::string>& args)
{
    const bool systemd = systemdRuns();
    if (args.empty()) {
        if (!systemd)
            return fail("systemd is not running here (no /run/systemd/system), so there are no timers: the "
                        "schedule is in the crontab of the account that runs the events (crontab -l)",
                        1);
        return listTimers();
    }
    const std::string& id = args[0];
    if (args.size() != 2)
        return fail("schedule needs ID WHEN (a systemd calendar time, see systemd.time(7)) or ID --off");
    if (!unitSafe(id))
        return fail("cannot schedule the event id '" + id +
                    "': a timer's name takes only letters, digits, '_', '-' and '.'");
    const std::string& when = args[1];
    const bool off = when == "--off";
    const std::string unitPath = joinPath(kUnitFolder, timerName(id));

    if (off) {
        if (!systemd)
            return fail("systemd is not running here (no /run/systemd/system): remove the line that ends in 'run " +
                            id + " --wait' from the crontab (crontab -e)",
                        1);
        if (!exists(unitPath))
            return fail("event " + id + " has no timer (" + unitPath + ")", 1);
        // A timer still running would go on firing with its file gone: it stays until systemd lets it go.
        if (runProgram({"systemctl", "disable", "--now", "--quiet", timerName(id)}) != 0)
            return fail("systemctl could not disable " + timerName(id) + "; " + unitPath + " stays");
        if (::unlink(unitPath.c_str()) != 0)
            return fail("cannot remove " + unitPath + ": " + std::strerror(errno));
        runProgram({"systemctl", "daemon-reload"});
        std::printf("event %s: timer %s removed\n", id.c_str(), timerName(id).c_str());
        return 0;
    }

    if (when.empty() || std::any_of(when.begin(), when.end(), [](char c) { return (unsigned char)c < 0x20; }))
        return fail("WHEN must be one line of text, a systemd calendar time such as 'Mon..Fri 02:30'");
    // An event without a script would only fail at its time.
    const std::string script = joinPath(joinPath(platform::folderOf(pluginPath), "ZUL"), id + "ZUL.zul");
    struct stat st {};
    if (::stat(script.c_str(), &st) != 0 && errno == ENOENT)
        return fail("event " + id + " has no script (" + script + "): save one first", 1);

    // systemd's own reading of WHEN, normalised, with the next time it falls.
    const int check = runProgram({"systemd-analyze", "calendar", "--", when}, !systemd);
    if (check > 0)
        return fail("'" + when + "' is not a calendar time systemd understands (see systemd.time(7))");
    if (!systemd) {
        std::string why;
        const auto fields = cronFields(when, &why);
        if (!fields)
            return fail("systemd is not running here, and '" + when + "' has no crontab line: " + why);
        std::fprintf(stderr,
                     "qorvhost: systemd is not running here (no /run/systemd/system), so no timer was written; add "
                     "this line to the crontab of the account that runs the events (crontab -e):\n");
        std::printf("%s %s\n", fields->c_str(), cronCommand(hostOptions, id).c_str());
        return 1;
    }
    if (check < 0)
        return fail("cannot check the calendar time: systemd-analyze cannot be started");
    if (!hostOptions.empty())
        std::fprintf(stderr, "qorvhost: note: zul-run@%s.service runs with the installed plug-in and the data "
                             "folder of the account zul, not with --data or --plugin\n",
                     id.c_str());

    if (const auto written = platform::replaceAtomically(unitPath, timerUnit(id, when)); !written)
        return fail("cannot write the timer: " + written.error().description);
    if (runProgram({"systemctl", "daemon-reload"}) != 0 ||
        runProgram({"systemctl", "enable", "--now", "--quiet", timerName(id)}) != 0) {
        ::unlink(unitPath.c_str());
        runProgram({"systemctl", "daemon-reload"});
        return fail("systemctl could not enable " + timerName(id) + "; the timer file was removed again");
    }
    std::printf("event %s: %s enabled, OnCalendar=%s\n", id.c_str(), timerName(id).c_str(), when.c_str());
    return 0;
}

} // namespace zul::history
