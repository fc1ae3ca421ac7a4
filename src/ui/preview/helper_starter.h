// SPDX-License-Identifier: MIT
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <utility>

namespace snapsift {

// How the start of one helper went: its process id once known.
struct HelperStart {
    std::mutex mutex;
    pid_t pid = -1;          // -1 while starting, 0 when it could not start
    bool cancelled = false;  // killed before it was known: its starter kills it at once
};

// Starts helpers on a thread of its own: posix_spawn holds the calling
// thread until the child has run exec, which a busy machine can make long.
// The thread lives as long as the loader, so that the helpers' parent-death
// signal comes when the loader ends.
class HelperStarter final {
public:
    HelperStarter();
    ~HelperStarter();
    HelperStarter(const HelperStarter&) = delete;
    HelperStarter& operator=(const HelperStarter&) = delete;

    // Starts a helper on `socket` (its end of the connection, closed here).
    std::shared_ptr<HelperStart> Start(int socket);

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::pair<int, std::shared_ptr<HelperStart>>> queue_;
    bool stop_ = false;
    std::thread thread_;  // last: starts when the rest is ready
};

}  // namespace snapsift
