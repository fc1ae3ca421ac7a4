// SPDX-License-Identifier: MIT
#pragma once

#include "review/content_check.h"
#include "review/content_files.h"
#include "review/content_memory.h"
#include "scan/file_table.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace snapsift {

namespace content {

constexpr std::size_t kEndBytes = std::size_t{64} * 1024;          // compared first, at each end
constexpr std::size_t kChunkBytes = std::size_t{2} * 1024 * 1024;  // then everything, in reads this large

enum class Verdict {
    kEqual,
    kDiffer,
    kStopped,
    kFailed
};

}  // namespace content

// One call of Check: a copy of the rows it compares, the groups, the
// threads that take them one by one, and the bytes read against the bytes to
// read. Its threads hold it: a check that was stopped returns without them.
class ContentChecker::Run final {
public:
    // `order`: the groups in the order they are taken.
    Run(std::shared_ptr<Memory> memory, std::shared_ptr<std::atomic<bool>> stop,
        std::function<void(std::uint64_t)> afterRead, const FileTable& table, const CopyGroups& groups,
        std::vector<std::uint32_t> order, unsigned openPerThread)
        : memory_(std::move(memory))
        , stop_(std::move(stop))
        , afterRead_(std::move(afterRead))
        , source_(&table)
        , rows_(groups.rows)
        , starts_(groups.starts)
        , asked_(groups.asked)
        , answers_(groups.rows.size(), CopyGroups::kDiffers)
        , errors_(groups.rows.size(), 0)
        , order_(std::move(order))
        , batchMost_(std::max(1u, openPerThread > 2 ? openPerThread - 2 : 1u))
    {
        // The rows compared are copied group by group as each is taken,
        // under `sourceMutex_`, while the caller's table may still be read:
        // a copy of them all at once would hold every compared row.
        for (const std::uint32_t row : groups.rows)
            toRead_ += table.Size(static_cast<int>(row));
    }

    std::uint64_t ToRead() const { return toRead_; }
    std::uint64_t Counted() const { return counted_.load(); }
    bool StopRequested() const { return stop_->load(); }

    // After this the caller's table is never read again: a group not yet
    // taken is not checked.
    void Detach()
    {
        const std::lock_guard lock(sourceMutex_);
        source_ = nullptr;
    }

    // Every entry's answer, for the caller's groups; once every worker has ended.
    void TakeAnswers(CopyGroups& groups)
    {
        groups.answers = std::move(answers_);
        groups.errors = std::move(errors_);
    }

    // Counts the worker threads in and out; true once all have ended.
    void Started(unsigned workers) { running_ = workers; }
    void Ended()
    {
        const std::lock_guard lock(endMutex_);
        --running_;
        ended_.notify_all();
    }
    bool WaitEnded(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(endMutex_);
        return ended_.wait_for(lock, limit, [this] { return running_ == 0; });
    }

    void Work()
    {
        // Room for both ends at first; a whole comparison makes it a chunk.
        std::vector<char> a(2 * content::kEndBytes), b(2 * content::kEndBytes);
        for (;;) {
            const std::size_t i = next_.fetch_add(1);
            if (i >= order_.size() || StopRequested())
                return;
            CheckGroup(order_[i], a, b);
        }
    }

private:
    using OpenCopy = content::OpenCopy;
    using Copy = std::unique_ptr<OpenCopy>;
    // One group being checked: each entry's file as first opened (nothing
    // once it proved unreadable), and which entries hold the same bytes, as
    // a forest of entries whose roots stand for one content each.
    // Entry i of the group is row i of its copy `table`.
    struct Pass {
        FileTable table;
        std::size_t first = 0;
        std::size_t count = 0;
        std::vector<char>& a;
        std::vector<char>& b;
        std::uint64_t bytes = 0;
        std::uint64_t counted = 0;
        std::vector<std::optional<FileState>> states;
        std::vector<std::size_t> parent;
    };

    static int RowOf(const Pass&, std::size_t i) { return static_cast<int>(i); }

    static std::size_t Root(Pass& pass, std::size_t i)
    {
        while (pass.parent[i] != i)
            i = pass.parent[i] = pass.parent[pass.parent[i]];
        return i;
    }
    static void Join(Pass& pass, std::size_t i, std::size_t j) { pass.parent[Root(pass, j)] = Root(pass, i); }

    void Count(Pass& pass, std::uint64_t bytes)
    {
        const std::uint64_t add = std::min(bytes, pass.bytes - pass.counted);
        pass.counted += add;
        counted_ += add;
    }

    // Reads, and shows on the bar unless `shown` is false: bytes read again
    // (the copy others are compared with, a second look at a copy) are not
    // shown, so that the bar follows the copies' bytes, which is its range.
    bool Read(Pass& pass, int fd, char* into, std::size_t length, std::uint64_t offset, bool shown = true)
    {
        if (length == 0)
            return true;
        if (!ReadAt(fd, into, length, offset))
            return false;
        memory_->bytesRead += length;
        if (shown)
            Count(pass, length);
        if (afterRead_)
            afterRead_(length);
        return true;
    }

    // The file of `row`. While the process has too many files open, waits
    // for room when `mayWait` (the caller holds at most one other file), and
    // otherwise leaves it to the caller to go on with fewer.
    Copy Open(const FileTable& table, int row, bool mayWait);
    // Copies the rows of entries [first, first + count) into `table`; false
    // once detached.
    bool CopyRows(std::size_t first, std::size_t count, FileTable& table);

    void Unreadable(Pass& pass, std::size_t i, int error)
    {
        answers_[pass.first + i] = CopyGroups::kUnreadable;
        errors_[pass.first + i] = error == content::kChanged ? 0 : error;
        pass.states[i].reset();
    }

    // After a read of `copy` failed with `error`: a file that changed while
    // it was read is simply not the same as another; one that did not, could
    // not be read.
    void ReadFailed(Pass& pass, std::size_t i, const OpenCopy& copy, int error)
    {
        if (copy.Unchanged())
            Unreadable(pass, i, error);
    }

    void CheckGroup(std::size_t group, std::vector<char>& a, std::vector<char>& b);
    std::optional<std::size_t> EndsDigest(Pass& pass, std::size_t i, const OpenCopy& copy);
    void ComparePair(Pass& pass, std::size_t i, std::size_t j);
    content::Verdict Compare(Pass& pass, const OpenCopy& x, const OpenCopy& y, const OpenCopy*& failed, int& error);
    // One copy read beside the copy it is compared with.
    struct Member {
        std::size_t entry = 0;
        Copy copy;
        bool compare = false;  // compared with the other copy, not only hashed
        bool differs = false;  // a chunk differed from the other copy's
        bool failed = false;   // could not be read to its end as it was
        std::uint64_t digest = 0;
    };
    using Digested = std::unordered_map<std::uint64_t, std::vector<std::size_t>>;
    void CompareMany(Pass& pass, const std::vector<std::size_t>& members);
    void Confirm(Pass& pass, std::vector<std::size_t> pending);
    void Sweep(Pass& pass, std::size_t rep, const std::vector<std::size_t>& rest, Digested* byWhole,
               std::vector<std::size_t>* left);
    void ReadBatch(Pass& pass, std::size_t rep, const OpenCopy*& with, std::vector<Member>& batch, bool hash);
    void Settle(Pass& pass, std::size_t rep, const OpenCopy* with, Member& member, Digested* byWhole,
                std::vector<std::size_t>* left);
    void Answer(Pass& pass);

    std::shared_ptr<Memory> memory_;
    std::shared_ptr<std::atomic<bool>> stop_;
    std::function<void(std::uint64_t)> afterRead_;
    std::mutex sourceMutex_;
    const FileTable* source_;  // null once detached
    const std::vector<std::uint32_t> rows_;
    const std::vector<std::uint32_t> starts_;
    const std::vector<std::uint8_t> asked_;
    std::vector<std::uint8_t> answers_;  // each worker writes only its groups' entries
    std::vector<int> errors_;
    const std::vector<std::uint32_t> order_;
    const std::size_t batchMost_;  // copies held open beside the one they are compared with
    std::mutex endMutex_;
    std::condition_variable ended_;
    unsigned running_ = 0;
    std::uint64_t toRead_ = 0;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::uint64_t> counted_{0};
};

}  // namespace snapsift
