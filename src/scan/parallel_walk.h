#pragma once

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
// SNAPSIFT_SCAN_THREADS environment variable (1 to 64) when set, else
// kDefaultScanThreads. A disk with a queue serves several requests at once,
// so this is more than the machine's cores.
inline constexpr unsigned kDefaultScanThreads = 8;
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
        : work_(std::move(work)), window_(window < 1 ? 1 : window)
    {
        if (threads < 1)
            threads = 1;
        threads_.reserve(threads);
        for (unsigned t = 0; t < threads; ++t)
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
        {
            const std::lock_guard lock(mutex_);
            pending_.push_back(std::move(item));
            results_.emplace_back();
        }
        workReady_.notify_one();
    }

    // The result of the oldest item whose result has not been taken yet;
    // waits for it. There must be such an item.
    Result Next()
    {
        std::unique_lock lock(mutex_);
        resultReady_.wait(lock, [this] { return results_.front().has_value(); });
        Result result = std::move(*results_.front());
        results_.pop_front();
        // A worker may wait for the window to move on.
        const bool wake = started_ == taken_ + window_ && !pending_.empty();
        ++taken_;
        lock.unlock();
        if (wake)
            workReady_.notify_one();
        return result;
    }

private:
    void Serve(const std::stop_token& stop)
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            workReady_.wait(lock, [this] { return stopping_ || (!pending_.empty() && started_ < taken_ + window_); });
            if (stopping_ || stop.stop_requested())
                return;
            Item item = std::move(pending_.front());
            pending_.pop_front();
            const std::size_t index = started_++;
            lock.unlock();
            Result result = work_(item);
            lock.lock();
            results_[index - taken_] = std::move(result);
            if (index == taken_)
                resultReady_.notify_one();
        }
    }

    std::function<Result(Item&)> work_;
    const std::size_t window_;
    std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable resultReady_;
    std::deque<Item> pending_;                  // added, not yet started
    std::deque<std::optional<Result>> results_;  // one per item not yet taken, oldest first
    std::size_t started_ = 0;                   // items handed to a worker so far
    std::size_t taken_ = 0;                     // results taken so far
    bool stopping_ = false;
    std::vector<std::jthread> threads_;         // last: joined before the rest goes
};

} // namespace snapsift
