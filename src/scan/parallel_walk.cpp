#include "scan/parallel_walk.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace snapsift {

unsigned ScanThreadCount()
{
    const unsigned byCores = std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
    const char* text = std::getenv("SNAPSIFT_SCAN_THREADS");
    if (text == nullptr || *text == '\0')
        return byCores;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > 64)
        return byCores;
    return static_cast<unsigned>(value);
}

} // namespace snapsift
