// SPDX-License-Identifier: MIT
#include "scan/uring_queue.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <liburing.h>
#include <sys/stat.h>

namespace snapsift {

namespace {

constexpr int kStatFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;
constexpr unsigned kStatMask = STATX_TYPE | STATX_SIZE | STATX_BTIME | STATX_MTIME | STATX_INO;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW;
constexpr int kUnanswered = INT_MIN;  // no errno value is this

// A ring, when the kernel gives one that can do both operations.
io_uring* NewRing(unsigned entries)
{
    auto* ring = new io_uring{};
    if (io_uring_queue_init(entries, ring, 0) < 0) {
        delete ring;
        return nullptr;
    }
    io_uring_probe* probe = io_uring_get_probe_ring(ring);
    const bool able = probe != nullptr && io_uring_opcode_supported(probe, IORING_OP_STATX) &&
                      io_uring_opcode_supported(probe, IORING_OP_OPENAT);
    if (probe != nullptr)
        io_uring_free_probe(probe);
    if (!able) {
        io_uring_queue_exit(ring);
        delete ring;
        return nullptr;
    }
    return ring;
}

}  // namespace

void UringQueue::RingDeleter::operator()(io_uring* ring) const
{
    io_uring_queue_exit(ring);
    delete ring;
}

UringQueue::UringQueue(unsigned entries) : ring_(NewRing(entries)), entries_(entries)
{ }

UringQueue::~UringQueue() = default;

bool UringQueue::Available()
{
    static const bool available = [] { return UringQueue(4).Ready(); }();
    return available;
}

void UringQueue::Stat(int dirFd, const char* name, struct statx* into, int* result)
{
    queued_.push_back(Request{false, dirFd, name, into, result});
}

void UringQueue::OpenFolder(int dirFd, const char* name, int* result)
{
    queued_.push_back(Request{true, dirFd, name, nullptr, result});
}

void UringQueue::AllowWaiting(unsigned count)
{
    if (!ring_ || count == allowedWaiting_)
        return;
    unsigned values[2] = {count, 0};  // bounded workers (these requests), unbounded left as they are
    if (io_uring_register_iowq_max_workers(ring_.get(), values) == 0)
        allowedWaiting_ = count;
}

void UringQueue::Answer(const Request& request)
{
    if (request.open) {
        const int fd = openat(request.dirFd, request.name, kFolderFlags);
        *request.result = fd >= 0 ? fd : -errno;
    } else {
        *request.result = statx(request.dirFd, request.name, kStatFlags, kStatMask, request.into) == 0 ? 0 : -errno;
    }
}

void UringQueue::Prepare(const Request& request)
{
    io_uring_sqe* sqe = io_uring_get_sqe(ring_.get());
    if (request.open)
        io_uring_prep_openat(sqe, request.dirFd, request.name, kFolderFlags, 0);
    else
        io_uring_prep_statx(sqe, request.dirFd, request.name, kStatFlags, kStatMask, request.into);
    io_uring_sqe_set_data(sqe, request.result);
}

void UringQueue::Run()
{
    for (const Request& request : queued_)
        *request.result = kUnanswered;
    std::size_t next = 0;
    unsigned inFlight = 0;
    while (ring_ && (next < queued_.size() || inFlight > 0)) {
        while (next < queued_.size() && inFlight < entries_ && io_uring_sq_space_left(ring_.get()) > 0) {
            Prepare(queued_[next++]);
            ++inFlight;
        }
        const int submitted = io_uring_submit_and_wait(ring_.get(), 1);
        if (submitted < 0 && submitted != -EINTR && submitted != -EAGAIN && submitted != -EBUSY) {
            ring_.reset();  // a ring that fails so is given up; what it did not answer is done below
            break;
        }
        io_uring_cqe* cqe = nullptr;
        unsigned head = 0;
        unsigned seen = 0;
        io_uring_for_each_cqe(ring_.get(), head, cqe)
        {
            *static_cast<int*>(io_uring_cqe_get_data(cqe)) = cqe->res;
            ++seen;
        }
        io_uring_cq_advance(ring_.get(), seen);
        inFlight -= seen;
    }
    for (const Request& request : queued_) {
        if (*request.result == kUnanswered)
            Answer(request);
    }
    queued_.clear();
}

void UringQueue::RunDirectly()
{
    for (const Request& request : queued_)
        Answer(request);
    queued_.clear();
}

}  // namespace snapsift
