#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zul::history {

// The crontab fields ("30 2 * * 1,2,3,4,5") for a systemd calendar
// expression that cron can say: no year, no seconds but :00, not both a
// weekday and a day of the month. Nullopt with why when it cannot.
std::optional<std::string> cronFields(const std::string& when, std::string* why);

// The timer zul-run@ID.timer: at WHEN (a systemd calendar time), made up
// at the next start when the machine was off; it starts zul-run@ID.service.
std::string timerUnit(const std::string& id, const std::string& when);

// "schedule ID WHEN", "schedule ID --off", "schedule": the event's systemd
// timer zul-run@ID.timer, which starts zul-run@ID.service. Without systemd,
// says so and prints the crontab line instead (exit status 1). hostOptions:
// the --data/--plugin options as given, for the crontab line.
int scheduleCommand(const std::string& pluginPath, const std::vector<std::string>& hostOptions,
                    const std::vector<std::string>& args);

} // namespace zul::history
