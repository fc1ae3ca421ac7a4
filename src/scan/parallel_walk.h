// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

namespace snapsift {

// How many folders a search reads at once: `usual` while listings come from
// the cache, up to `most` while they wait on the disk.
struct ReadsInFlight {
    unsigned usual = 2;
    unsigned most = 2;
};

// One thread per processor core (at least 2, at most 8) while the cache
// answers: more threads than cores made a warm search slower, as the kernel's
// locks on the folders' entries are then fought over. Up to 32 while the
// listings wait on the disk: a disk answers many requests at once about as
// fast as one. The SNAPSIFT_SCAN_THREADS environment variable (1 to 64) fixes
// both to its value.
ReadsInFlight ScanReadsInFlight();

// How a search asks the disk for the folders' subfolders and the files' facts.
enum class ScanIo : unsigned char {
    Threads,  // one system call at a time on each listing thread
    Uring,    // a folder's requests all at once through io_uring, where the kernel allows it
    Auto,     // one at a time while the cache answers; through io_uring once listings wait on the disk
};

// What the SNAPSIFT_SCAN_IO environment variable says ("threads" or
// "uring"); Auto when it is not set or says something else.
ScanIo ScanIoChosen();

// What the calling thread has used so far: its processor time, how long it
// was ready to run but waited for a processor (where the kernel says), and
// how often it gave up the processor to wait for something (the disk, mostly).
struct ThreadUse {
    std::chrono::nanoseconds processor{0};
    std::chrono::nanoseconds queued{0};
    bool queuedKnown = false;
    long waits = 0;
};
ThreadUse CurrentThreadUse();

// The least time off the processor that counts as a wait on the disk. An
// item that took less than this by the clock cannot have waited, and its
// thread's use need not be asked for.
inline constexpr std::chrono::nanoseconds kLeastWait = std::chrono::microseconds(500);

// Whether an item waited on the disk: its thread slept (was off the
// processor and not waiting for one) longer than it ran, and more than
// kLeastWait. A thread the scheduler merely set aside on a busy machine did
// not wait of its own accord: the thread must have given up the processor of
// its own accord during the item, and where the kernel tells how long it
// waited for a processor, that time does not count as sleep.
bool WaitedOnDisk(std::chrono::nanoseconds wall, const ThreadUse& before, const ThreadUse& after);

// Tells, item by item, whether items wait on the disk, asking for the
// thread's use only after an item that took kLeastWait or longer by the
// monotonic clock (which costs no system call): on a warm cache, no item
// does. The span measured then starts at the last time the use was asked
// for, so it may take in a few quick items before; those cost little
// processor time against a wait on a disk.
class WaitWatch final {
public:
    WaitWatch() : since_(std::chrono::steady_clock::now()), use_(CurrentThreadUse()) { }

    // Call before each item.
    void Start() { start_ = std::chrono::steady_clock::now(); }

    // Call after it: whether it waited on the disk.
    bool Waited()
    {
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < kLeastWait)
            return false;
        const ThreadUse use = CurrentThreadUse();
        const bool waited = WaitedOnDisk(now - since_, use_, use);
        since_ = now;
        use_ = use;
        return waited;
    }

private:
    std::chrono::steady_clock::time_point since_;
    std::chrono::steady_clock::time_point start_;
    ThreadUse use_;
};

// Runs `work` on items handed in one by one, on a pool of threads, and hands
// the results back on the calling thread in the order the items came in.
// Workers run at most `window` items ahead of the last result taken, which
// bounds the memory that finished results hold. Items may be added while
// results are taken: a breadth-first walk adds the subfolders it finds.
//
// The pool starts with `reads.usual` threads. One of the first items that
// waited on the disk lets `reads.most` threads work at once: a disk that is
// slow from the start gets its deep queue at once. Later, each item that
// waited lets one more thread work, up to `reads.most`; once kWaitingItems
// items in a row did not wait, `reads.usual` work again. A wait also makes the shares
// single items, which grow back (doubling) while items do not wait.
//
// `work(item, waiting)` is told whether items have waited on the disk lately
// (within the last kWaitingItems items), so that it can ask the disk in a
// way that suits a disk that waits. It runs on the worker threads only and
// must not touch what the calling thread changes meanwhile; everything it
// needs travels in its item or is owned by the function itself, as an
// abandoned pool outlives its owner.
template <class Item, class Result>
class OrderedWork final {
public:
    static constexpr unsigned kWaitingItems = 64;

    OrderedWork(ReadsInFlight reads, std::size_t window, std::function<Result(Item&, bool)> work)
        : state_(std::make_shared<State>(reads, window, std::move(work)))
    {
        const std::lock_guard lock(state_->mutex);
        for (unsigned t = 0; t < state_->usual; ++t)
            Spawn(*state_);
    }

    // Joins the threads, unless the pool was abandoned: they then end on
    // their own once their items are done, and the pool's state with them.
    ~OrderedWork()
    {
        std::vector<std::thread> threads;
        {
            const std::lock_guard lock(state_->mutex);
            state_->stopping = true;
            threads.swap(state_->threads);
        }
        state_->workReady.notify_all();
        for (std::thread& thread : threads) {
            if (abandoned_)
                thread.detach();
            else
                thread.join();
        }
    }

    OrderedWork(const OrderedWork&) = delete;
    OrderedWork& operator=(const OrderedWork&) = delete;

    // Adds the next item.
    void Add(Item item)
    {
        std::vector<Item> one;
        one.push_back(std::move(item));
        Add(one);
    }

    // Adds the next items, in their order, and wakes the idle workers once
    // for all of them. Leaves `items` empty.
    void Add(std::vector<Item>& items)
    {
        if (items.empty())
            return;
        State& s = *state_;
        unsigned wake = 0;
        {
            const std::lock_guard lock(s.mutex);
            for (Item& item : items) {
                s.pending.push_back(std::move(item));
                s.results.emplace_back();
            }
            // As many as may work, and as the added items make shares for.
            if (s.MayWork())
                wake = static_cast<unsigned>(std::min<std::size_t>(
                    {s.idleWorkers, s.limit - s.working, std::max<std::size_t>(1, s.Room() / s.ShareSize())}));
        }
        items.clear();
        for (; wake > 0; --wake)
            s.workReady.notify_one();
    }

    // The result of the oldest item whose result has not been taken yet;
    // waits for it, unless `stop` is requested first: then it is empty. There
    // must be such an item.
    std::optional<Result> Next(const std::stop_token& stop = {})
    {
        State& s = *state_;
        std::unique_lock lock(s.mutex);
        if (!s.results.front().has_value()) {
            s.consumerWaiting = true;
            s.resultReady.wait(lock, stop, [&s] { return s.results.front().has_value(); });
            s.consumerWaiting = false;
            if (!s.results.front().has_value())
                return std::nullopt;
        }
        Result result = std::move(*s.results.front());
        s.results.pop_front();
        ++s.taken;
        // The window moved on: an idle worker may start more. While items do
        // not wait, it is woken once a share's worth of room is free, not for
        // every result taken.
        const bool wake = s.idleWorkers > 0 && s.MayWork() && s.RoomForShare();
        lock.unlock();
        if (wake)
            s.workReady.notify_one();
        return result;
    }

    // The most threads that were let work at once so far.
    unsigned MostAllowed() const
    {
        const std::lock_guard lock(state_->mutex);
        return state_->mostAllowed;
    }

    // Lets the pool end without waiting for the items in its threads' hands:
    // a listing stuck on a slow disk must not hold up the one who stopped it.
    void Abandon() { abandoned_ = true; }

private:
    static constexpr std::size_t kMostPerShare = 16;

    struct State : std::enable_shared_from_this<State> {
        State(ReadsInFlight reads, std::size_t windowSize, std::function<Result(Item&, bool)> f)
            : work(std::move(f))
            , window(windowSize < 1 ? 1 : windowSize)
            , usual(std::max(reads.usual, 1u))
            , most(std::max(reads.most, std::max(reads.usual, 1u)))
            , limit(usual)
        {
            threads.reserve(most);
        }
        // Under the lock: whether an added item may start within the window.
        bool MayStart() const { return !pending.empty() && started < taken + window; }
        bool MayWork() const { return MayStart() && working < limit; }
        std::size_t Room() const { return std::min(pending.size(), taken + window - started); }
        // Under the lock: whether enough may start to be worth a wake-up.
        bool RoomForShare() const
        {
            return limit > usual || Room() >= std::min({pending.size(), kMostPerShare, window / 4 + 1});
        }
        // Under the lock: how many items the next share takes.
        std::size_t ShareSize() const
        {
            return limit > usual ? 1 : std::clamp<std::size_t>(Room() / (2 * std::size_t{limit}), 1, shareCap);
        }
        // Under the lock: an item waited on the disk.
        void SawWait(std::size_t index)
        {
            constexpr std::size_t kFirstItems = 8;
            shareCap = 1;
            waitingItems = kWaitingItems;
            if (stopping || limit >= most)
                return;
            limit = index < kFirstItems ? most : limit + 1;
            mostAllowed = std::max(mostAllowed, limit);
            if (idleWorkers > 0)
                workReady.notify_all();
            for (std::size_t ready = pending.size(); threads.size() < limit && ready > idleWorkers; --ready)
                Spawn(*this);
        }
        // Under the lock: a share is done, `fast` of its items without a wait.
        void ShareDone(std::size_t items, unsigned fast)
        {
            --working;
            waitingItems -= std::min(waitingItems, fast);
            // A cold disk answers many folders from what it read for their
            // neighbours: the queue stays deep until kWaitingItems items in a
            // row did not wait.
            if (waitingItems == 0)
                limit = usual;
            if (fast == items)
                shareCap = std::min(kMostPerShare, 2 * shareCap);
        }

        std::function<Result(Item&, bool)> work;
        const std::size_t window;
        const unsigned usual;
        const unsigned most;
        mutable std::mutex mutex;
        std::condition_variable workReady;
        std::condition_variable_any resultReady;
        std::deque<Item> pending;                   // added, not yet started
        std::deque<std::optional<Result>> results;  // one per item not yet taken, oldest first
        std::size_t started = 0;                    // items handed to a worker so far
        std::size_t taken = 0;                      // results taken so far
        unsigned limit;                             // threads that may work at once now
        unsigned mostAllowed = limit;               // the highest limit so far
        std::size_t shareCap = kMostPerShare;       // the most items one share takes now
        unsigned waitingItems = 0;                  // items still to run as on a disk that waits
        unsigned working = 0;                       // threads working on a share
        unsigned idleWorkers = 0;                   // workers waiting for an item to start
        bool consumerWaiting = false;               // Next() waits for the oldest result
        bool stopping = false;
        std::vector<std::thread> threads;
    };

    using Share = std::vector<std::pair<std::size_t, Item>>;

    // Under the lock.
    static void Spawn(State& s)
    {
        s.threads.emplace_back([state = s.shared_from_this()] { Serve(*state); });
    }

    // Runs the items of a share, lock not held; says at once when one waited
    // on the disk, as the rest of the share may wait too. Returns how many
    // did not wait.
    static unsigned RunShare(State& s, std::unique_lock<std::mutex>& lock, Share& share, bool waiting,
                             std::vector<Result>& done)
    {
        unsigned fast = 0;
        WaitWatch watch;
        for (auto& [index, item] : share) {
            watch.Start();
            done.push_back(s.work(item, waiting));
            if (!watch.Waited()) {
                ++fast;
                continue;
            }
            lock.lock();
            s.SawWait(index);
            waiting = true;
            lock.unlock();
        }
        return fast;
    }

    // Each worker takes a share of the items that may start and hands back
    // their results together, so the lock is taken, and a sleeping thread
    // woken, once per share rather than once per item: on a warm cache an
    // item is a few system calls, no more than the hand-over would cost.
    // While items wait on the disk, a share is one item, so that as many
    // reads are in flight as threads work.
    static void Serve(State& s)
    {
        Share share;
        std::vector<Result> done;
        std::unique_lock lock(s.mutex);
        for (;;) {
            if (!s.stopping && !s.MayWork()) {
                ++s.idleWorkers;
                s.workReady.wait(lock, [&s] { return s.stopping || s.MayWork(); });
                --s.idleWorkers;
            }
            if (s.stopping)
                return;
            for (std::size_t k = s.ShareSize(); k > 0; --k) {
                share.emplace_back(s.started++, std::move(s.pending.front()));
                s.pending.pop_front();
            }
            ++s.working;
            const bool waiting = s.waitingItems > 0;
            lock.unlock();
            const unsigned fast = RunShare(s, lock, share, waiting, done);
            lock.lock();
            s.ShareDone(share.size(), fast);
            bool oldestReady = false;
            for (std::size_t k = 0; k < share.size(); ++k) {
                s.results[share[k].first - s.taken] = std::move(done[k]);
                oldestReady = oldestReady || share[k].first == s.taken;
            }
            share.clear();
            done.clear();
            if (oldestReady && s.consumerWaiting)
                s.resultReady.notify_one();
            // This thread takes the next share itself; another is woken only
            // when there is work beside it.
            if (s.idleWorkers > 0 && s.working + 1 < s.limit && s.MayStart() && s.Room() > s.ShareSize())
                s.workReady.notify_one();
        }
    }

    std::shared_ptr<State> state_;
    bool abandoned_ = false;
};

}  // namespace snapsift
