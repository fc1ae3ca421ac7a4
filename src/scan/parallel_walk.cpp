#include "scan/parallel_walk.h"

#include <algorithm>
#include <cstdlib>
#include <string>

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

bool WaitedOnDisk(std::chrono::nanoseconds wall, std::chrono::nanoseconds processor)
{
    constexpr std::chrono::nanoseconds kLeast = std::chrono::microseconds(500);
    const std::chrono::nanoseconds off = wall - processor;
    return off > kLeast && off > processor;
}

std::chrono::nanoseconds ThreadProcessorTime()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

} // namespace snapsift
