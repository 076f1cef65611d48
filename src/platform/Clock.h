#pragma once

#include <functional>
#include <string>

namespace zul::platform {

struct LocalDateTime {
    int year = 0;
    int month = 0; // 1..12
    int day = 0;   // 1..31
    int hour = 0;  // 0..23
    int minute = 0;
    int second = 0;
};

LocalDateTime now();

// Replaces the clock; an empty function restores the system clock.
void setClock(std::function<LocalDateTime()> clock);

std::string formatMmDdYyyy(const LocalDateTime& t); // "mm/dd/yyyy"
std::string formatHhMmSs(const LocalDateTime& t);   // "HH:MM:SS"
std::string formatStamp(const LocalDateTime& t);    // "yyyymmddhhnnss"

} // namespace zul::platform
