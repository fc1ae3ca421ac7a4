// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>

namespace snapsift::testing {

// Sets an environment variable for its scope; at its end the variable holds
// what it held before, or is unset again.
class ScopedEnv final {
public:
    ScopedEnv(std::string name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// Sets how many threads the searches in its scope list folders with.
class ScanThreads final {
public:
    explicit ScanThreads(int count) : env_("SNAPSIFT_SCAN_THREADS", std::to_string(count)) { }

private:
    ScopedEnv env_;
};

// Sets how the searches in its scope ask the disk: "threads", "uring" or
// "auto" (left to the walk).
class ScanIoMode final {
public:
    explicit ScanIoMode(const std::string& mode) : env_("SNAPSIFT_SCAN_IO", mode) { }

private:
    ScopedEnv env_;
};

// Sets the time zone (TZ) for its scope.
class TimeZone final {
public:
    explicit TimeZone(const std::string& zone);
    ~TimeZone();
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    std::optional<ScopedEnv> env_;
};

}  // namespace snapsift::testing
