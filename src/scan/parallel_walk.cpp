// SPDX-License-Identifier: MIT
#include "scan/parallel_walk.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/time.h>

namespace snapsift {

ReadsInFlight ScanReadsInFlight()
{
    constexpr unsigned kMostReads = 32;
    const unsigned byCores = std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
    const ReadsInFlight adaptive{byCores, std::max(byCores, kMostReads)};
    const char* text = std::getenv("SNAPSIFT_SCAN_THREADS");
    if (text == nullptr || *text == '\0')
        return adaptive;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > 64)
        return adaptive;
    return ReadsInFlight{static_cast<unsigned>(value), static_cast<unsigned>(value)};
}

ScanIo ScanIoChosen()
{
    const char* text = std::getenv("SNAPSIFT_SCAN_IO");
    const std::string_view chosen = text != nullptr ? text : "";
    return chosen == "threads" ? ScanIo::Threads : chosen == "uring" ? ScanIo::Uring : ScanIo::Auto;
}

ThreadUse CurrentThreadUse()
{
    rusage use{};
    if (getrusage(RUSAGE_THREAD, &use) != 0)
        return {};
    const auto micros = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return ThreadUse{micros(use.ru_utime) + micros(use.ru_stime), use.ru_nvcsw};
}

bool WaitedOnDisk(std::chrono::nanoseconds wall, const ThreadUse& before, const ThreadUse& after)
{
    const std::chrono::nanoseconds processor = after.processor - before.processor;
    const std::chrono::nanoseconds off = wall - processor;
    return after.waits > before.waits && off > kLeastWait && off > processor;
}

}  // namespace snapsift
