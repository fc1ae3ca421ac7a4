#include "scan/parallel_walk.h"

#include <cstdlib>
#include <string>

namespace snapsift {

unsigned ScanThreadCount()
{
    const char* text = std::getenv("SNAPSIFT_SCAN_THREADS");
    if (text == nullptr || *text == '\0')
        return kDefaultScanThreads;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > 64)
        return kDefaultScanThreads;
    return static_cast<unsigned>(value);
}

} // namespace snapsift
