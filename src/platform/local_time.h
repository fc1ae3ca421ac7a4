// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace snapsift {

// Seconds since 1970-01-01 00:00:00 UTC, now.
std::int64_t CurrentTime();

// Formats `seconds` in the machine's local time zone with a strftime pattern.
// Any 64-bit time the C library can break down is formatted, before 1970 and
// after 2038 included; the text is empty only when it cannot be.
std::string FormatLocalTime(std::int64_t seconds, const char* pattern);

// The moment a local date and time of day name, in seconds since 1970-01-01
// UTC. Empty when no such date or time exists (month 13, 31 April, 25:00).
std::optional<std::int64_t> LocalTimeFromParts(int year, int month, int day, int hour, int minute, int second);

// Every moment a local date and time of day name: one, or two in the hour
// that repeats when the clock goes back (earliest first, latest second;
// equal when there is one). Empty when it names none.
struct LocalReadings {
    std::int64_t earliest = 0;
    std::int64_t latest = 0;
};
std::optional<LocalReadings> LocalTimeReadings(int year, int month, int day, int hour, int minute, int second);

}  // namespace snapsift
