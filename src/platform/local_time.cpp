#include "platform/local_time.h"

#include <ctime>

namespace snapsift {

std::int64_t CurrentTime()
{
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

std::string FormatLocalTime(std::int64_t seconds, const char* pattern)
{
    const time_t t = static_cast<time_t>(seconds);
    struct tm parts {};
    if (localtime_r(&t, &parts) == nullptr)
        return {};
    char buffer[256];
    const std::size_t n = strftime(buffer, sizeof buffer, pattern, &parts);
    return std::string(buffer, n);
}

} // namespace snapsift
