// SPDX-License-Identifier: MIT
#pragma once

#include <memory>
#include <vector>

struct io_uring;
struct statx;

namespace snapsift {

// Requests about the entries of open folders, submitted together through
// io_uring so that the disk gets them all at once: the facts of files
// (`statx`, never following a link) and the opening of subfolders (never
// through a link). Where the kernel gives no io_uring (an older kernel, a
// sandbox that forbids it) or lacks one of the two operations, the requests
// are made one by one as system calls, with the same results. One queue per
// thread; not shared.
class UringQueue final {
public:
    // A ring of `entries` requests at a time.
    explicit UringQueue(unsigned entries = 128);
    ~UringQueue();
    UringQueue(const UringQueue&) = delete;
    UringQueue& operator=(const UringQueue&) = delete;

    // Whether the requests go through io_uring.
    bool Ready() const { return ring_ != nullptr; }

    // Whether this process may use io_uring for the walk, found out once.
    static bool Available();

    // Queues the facts of `name` in the open folder `dirFd`, not following a
    // link and not triggering an automount; Run() fills `into` and sets
    // `result` to 0 or a negative errno value. `name` must live until then.
    void Stat(int dirFd, const char* name, struct statx* into, int* result);

    // Queues opening the folder `name` in `dirFd` without following a link;
    // Run() sets `result` to the new descriptor (close-on-exec) or a negative
    // errno value.
    void OpenFolder(int dirFd, const char* name, int* result);

    // Submits what is queued, as many at once as the ring holds, and waits
    // for every answer.
    void Run();

    // Makes the queued requests one by one as system calls: cheaper than the
    // ring while the cache answers, as the kernel hands each io_uring `statx`
    // to a thread of its own.
    void RunDirectly();

    // How many of this thread's requests the kernel lets wait on the disk at
    // once (its io_uring workers); the kernel's own default is 4 per core.
    void AllowWaiting(unsigned count);

private:
    struct Request {
        bool open = false;
        int dirFd = -1;
        const char* name = nullptr;
        struct statx* into = nullptr;
        int* result = nullptr;
    };
    struct RingDeleter {
        void operator()(io_uring* ring) const;
    };

    static void Answer(const Request& request);
    void Prepare(const Request& request);

    std::unique_ptr<io_uring, RingDeleter> ring_;
    unsigned entries_ = 0;
    unsigned allowedWaiting_ = 0;
    std::vector<Request> queued_;
};

}  // namespace snapsift
