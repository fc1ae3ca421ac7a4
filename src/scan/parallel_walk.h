#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace snapsift {

// How many threads a search lists folders and looks at files with: the
// SNAPSIFT_SCAN_THREADS environment variable (1 to 64) when set, else one per
// processor core, at least 2 and at most 8. More threads than cores made a
// warm search slower (the kernel's locks on the folders' entries are then
// fought over) and a cold one no faster on the disks measured.
unsigned ScanThreadCount();

// Runs `work` on items handed in one by one, on a pool of threads, and hands
// the results back on the calling thread in the order the items came in.
// Workers run at most `window` items ahead of the last result taken, which
// bounds the memory that finished results hold. Items may be added while
// results are taken: a breadth-first walk adds the subfolders it finds.
//
// `work` runs on the worker threads only and must not touch what the calling
// thread changes meanwhile; everything it needs travels in its item.
template <class Item, class Result>
class OrderedWork final {
public:
    OrderedWork(unsigned threads, std::size_t window, std::function<Result(Item&)> work)
        : work_(std::move(work)), window_(window < 1 ? 1 : window), threadCount_(threads < 1 ? 1 : threads)
    {
        threads_.reserve(threadCount_);
        for (unsigned t = 0; t < threadCount_; ++t)
            threads_.emplace_back([this](std::stop_token stop) { Serve(stop); });
    }

    ~OrderedWork()
    {
        for (std::jthread& thread : threads_)
            thread.request_stop();
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        workReady_.notify_all();
        threads_.clear();  // joins
    }

    OrderedWork(const OrderedWork&) = delete;
    OrderedWork& operator=(const OrderedWork&) = delete;

    // Adds the next item.
    void Add(Item item)
    {
        bool wake;
        {
            const std::lock_guard lock(mutex_);
            pending_.push_back(std::move(item));
            results_.emplace_back();
            wake = idleWorkers_ > 0 && MayStart();
        }
        if (wake)
            workReady_.notify_one();
    }

    // The result of the oldest item whose result has not been taken yet;
    // waits for it. There must be such an item.
    Result Next()
    {
        std::unique_lock lock(mutex_);
        if (!results_.front().has_value()) {
            consumerWaiting_ = true;
            resultReady_.wait(lock, [this] { return results_.front().has_value(); });
            consumerWaiting_ = false;
        }
        Result result = std::move(*results_.front());
        results_.pop_front();
        ++taken_;
        // The window moved on by one: an idle worker may start one more.
        const bool wake = idleWorkers_ > 0 && MayStart();
        lock.unlock();
        if (wake)
            workReady_.notify_one();
        return result;
    }

private:
    // Under the lock: whether an added item may start within the window.
    bool MayStart() const { return !pending_.empty() && started_ < taken_ + window_; }

    // Each worker takes a share of the items that may start and hands back
    // their results together, so the lock is taken, and a sleeping thread
    // woken, once per share rather than once per item: on a warm cache an
    // item is a few system calls, no more than the hand-over would cost.
    void Serve(const std::stop_token& stop)
    {
        constexpr std::size_t kMostPerShare = 16;
        std::vector<std::pair<std::size_t, Item>> share;
        std::vector<Result> done;
        std::unique_lock lock(mutex_);
        for (;;) {
            if (!stopping_ && !MayStart()) {
                ++idleWorkers_;
                workReady_.wait(lock, [this] { return stopping_ || MayStart(); });
                --idleWorkers_;
            }
            if (stopping_ || stop.stop_requested())
                return;
            const std::size_t room = std::min(pending_.size(), taken_ + window_ - started_);
            const std::size_t count = std::clamp<std::size_t>(room / (2 * std::size_t{threadCount_}), 1, kMostPerShare);
            for (std::size_t k = 0; k < count; ++k) {
                share.emplace_back(started_++, std::move(pending_.front()));
                pending_.pop_front();
            }
            lock.unlock();
            for (auto& [index, item] : share)
                done.push_back(work_(item));
            lock.lock();
            bool oldestReady = false;
            for (std::size_t k = 0; k < share.size(); ++k) {
                results_[share[k].first - taken_] = std::move(done[k]);
                oldestReady = oldestReady || share[k].first == taken_;
            }
            share.clear();
            done.clear();
            if (oldestReady && consumerWaiting_)
                resultReady_.notify_one();
        }
    }

    std::function<Result(Item&)> work_;
    const std::size_t window_;
    const unsigned threadCount_;
    std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable resultReady_;
    std::deque<Item> pending_;                  // added, not yet started
    std::deque<std::optional<Result>> results_;  // one per item not yet taken, oldest first
    std::size_t started_ = 0;                   // items handed to a worker so far
    std::size_t taken_ = 0;                     // results taken so far
    unsigned idleWorkers_ = 0;                  // workers waiting for an item to start
    bool consumerWaiting_ = false;              // Next() waits for the oldest result
    bool stopping_ = false;
    std::vector<std::jthread> threads_;         // last: joined before the rest goes
};

} // namespace snapsift
