// SPDX-License-Identifier: MIT
#include "platform/local_time.h"

#include <algorithm>
#include <ctime>

namespace snapsift {

std::int64_t CurrentTime()
{
    struct timespec now { };
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

std::string FormatLocalTime(std::int64_t seconds, const char* pattern)
{
    const time_t t = static_cast<time_t>(seconds);
    struct tm parts { };
    if (localtime_r(&t, &parts) == nullptr)
        return {};
    char buffer[256];
    const std::size_t n = strftime(buffer, sizeof buffer, pattern, &parts);
    return std::string(buffer, n);
}

namespace {

struct tm Parts(int year, int month, int day, int hour, int minute, int second, int isDst)
{
    struct tm parts { };
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = isDst;
    return parts;
}

// The moment the local fields name when read with `isDst` (-1: as the C
// library picks), if it names them exactly.
std::optional<std::int64_t> Reading(int year, int month, int day, int hour, int minute, int second, int isDst)
{
    struct tm parts = Parts(year, month, day, hour, minute, second, isDst);
    const time_t t = mktime(&parts);
    struct tm back { };
    if (t == static_cast<time_t>(-1) || localtime_r(&t, &back) == nullptr || back.tm_year != year - 1900 ||
        back.tm_mon != month - 1 || back.tm_mday != day || back.tm_hour != hour || back.tm_min != minute ||
        back.tm_sec != second)
        return std::nullopt;
    return static_cast<std::int64_t>(t);
}

}  // namespace

std::optional<LocalReadings> LocalTimeReadings(int year, int month, int day, int hour, int minute, int second)
{
    std::optional<LocalReadings> out;
    const auto take = [&out](std::int64_t t) {
        if (!out)
            out = LocalReadings{t, t};
        out->earliest = std::min(out->earliest, t);
        out->latest = std::max(out->latest, t);
    };
    for (const int isDst : {-1, 0, 1}) {
        if (const auto t = Reading(year, month, day, hour, minute, second, isDst))
            take(*t);
    }
    if (!out)
        return out;
    // A zone that moved its standard time back repeats an hour with no
    // daylight flag on either side: the offsets of the day before and the
    // day after name the other moment.
    struct tm fields = Parts(year, month, day, hour, minute, second, 0);
    const std::int64_t asUtc = timegm(&fields);
    for (const std::int64_t around : {out->earliest - 86400, out->latest + 86400}) {
        const time_t at = static_cast<time_t>(around);
        struct tm there { };
        if (localtime_r(&at, &there) == nullptr)
            continue;
        const time_t t = static_cast<time_t>(asUtc - there.tm_gmtoff);
        struct tm back { };
        if (localtime_r(&t, &back) != nullptr && back.tm_year == year - 1900 && back.tm_mon == month - 1 &&
            back.tm_mday == day && back.tm_hour == hour && back.tm_min == minute && back.tm_sec == second)
            take(static_cast<std::int64_t>(t));
    }
    return out;
}

std::optional<std::int64_t> LocalTimeFromParts(int year, int month, int day, int hour, int minute, int second)
{
    struct tm parts = Parts(year, month, day, hour, minute, second, -1);
    const time_t t = mktime(&parts);
    // mktime carries a field out of range into the next one; such a date is
    // not one of the calendar's. (An hour skipped by a clock change moves too.)
    if (t == static_cast<time_t>(-1) || parts.tm_year != year - 1900 || parts.tm_mon != month - 1 ||
        parts.tm_mday != day || parts.tm_min != minute || parts.tm_sec != second)
        return std::nullopt;
    return static_cast<std::int64_t>(t);
}

}  // namespace snapsift
