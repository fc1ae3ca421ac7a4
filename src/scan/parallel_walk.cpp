// SPDX-License-Identifier: MIT
#include "scan/parallel_walk.h"

#include "platform/file_descriptor.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

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

namespace {

// How long the thread has waited for a processor while ready to run, in
// nanoseconds, from the kernel's scheduler statistics; false where they
// cannot be read. (Their processor time is brought up to date only when the
// thread is switched, so it is taken from getrusage.) The file stays open for
// the thread's life.
bool ReadQueuedTime(std::chrono::nanoseconds& queued)
{
    thread_local const FileDescriptor stats(open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC));
    if (!stats.IsOpen())
        return false;
    char text[96];
    const ssize_t n = pread(stats.Fd(), text, sizeof text - 1, 0);
    if (n <= 0)
        return false;
    text[n] = '\0';
    char* end = nullptr;
    std::strtoull(text, &end, 10);  // the processor time
    if (end == text || *end != ' ')
        return false;
    char* rest = end;
    const unsigned long long wait = std::strtoull(rest, &end, 10);
    if (end == rest)
        return false;
    queued = std::chrono::nanoseconds(static_cast<std::int64_t>(wait));
    return true;
}

}  // namespace

ThreadUse CurrentThreadUse()
{
    ThreadUse now;
    rusage use{};
    if (getrusage(RUSAGE_THREAD, &use) != 0)
        return {};
    const auto micros = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    now.processor = micros(use.ru_utime) + micros(use.ru_stime);
    now.waits = use.ru_nvcsw;
    now.queuedKnown = ReadQueuedTime(now.queued);
    return now;
}

bool WaitedOnDisk(std::chrono::nanoseconds wall, const ThreadUse& before, const ThreadUse& after)
{
    const std::chrono::nanoseconds processor = after.processor - before.processor;
    if (before.queuedKnown && after.queuedKnown) {
        const std::chrono::nanoseconds asleep = wall - processor - (after.queued - before.queued);
        return after.waits > before.waits && asleep > kLeastWait && asleep > processor;
    }
    const std::chrono::nanoseconds off = wall - processor;
    return after.waits > before.waits && off > kLeastWait && off > processor;
}

}  // namespace snapsift
