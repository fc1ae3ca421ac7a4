// SPDX-License-Identifier: MIT
#include "review/content_check.h"

#include "review/content_memory.h"

#include "platform/file_system.h"
#include "platform/progress.h"
#include "scan/file_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <thread>
#include <tuple>

namespace snapsift {
namespace {

constexpr std::size_t kEndBytes = 64 * 1024;       // compared first, at each end
constexpr std::size_t kChunkBytes = 2 * 1024 * 1024;  // then everything, in reads this large
constexpr unsigned kMaxThreads = 4;
// Groups up to this size compare each copy with one of each content met
// before it; larger ones first sort their copies by the digest of their ends.
constexpr std::size_t kPairwiseAtMost = 8;

// A time as one number, only ever compared for equality: it wraps for
// times beyond the year 2262 rather than overflow.
std::int64_t Nanoseconds(const struct timespec& t)
{
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(t.tv_sec) * 1000000000u +
                                     static_cast<std::uint64_t>(t.tv_nsec));
}

std::optional<ContentChecker::FileState> StateOf(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    ContentChecker::FileState state;
    state.identity = {(std::uint64_t{major(st.st_dev)} << 32) | minor(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    state.size = static_cast<std::uint64_t>(st.st_size);
    state.mtimeNs = Nanoseconds(st.st_mtim);
    state.ctimeNs = Nanoseconds(st.st_ctim);
    return state;
}

// One row's file, opened without following a link in its last part.
class OpenCopy final {
public:
    OpenCopy(const FileTable& table, int row)
    {
        const std::string path = table.Path(row);
        constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
        if (path.size() < PATH_MAX) {
            fd_ = open(path.c_str(), kFlags);
        } else {
            const FolderHandle folder = OpenFolder(table.Folder(row));
            if (folder.IsOpen())
                fd_ = openat(folder.Fd(), std::string(table.Name(row)).c_str(), kFlags);
        }
        if (fd_ < 0)
            return;
        const auto state = StateOf(fd_);
        // Only the file the search found under that name, at the size it had.
        const FileIdentity& expected = table.Identity(row);
        if (!state || state->size != table.Size(row) || (expected.Known() && state->identity != expected)) {
            close(fd_);
            fd_ = -1;
            return;
        }
        state_ = *state;
    }
    ~OpenCopy()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    OpenCopy(const OpenCopy&) = delete;
    OpenCopy& operator=(const OpenCopy&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    const ContentChecker::FileState& State() const { return state_; }
    // True while the open file still has the size and times it had when opened.
    bool Unchanged() const
    {
        const auto now = StateOf(fd_);
        return now && *now == state_;
    }

private:
    int fd_ = -1;
    ContentChecker::FileState state_;
};

// Where data next starts at or after `offset` in either file, up to `end`.
// Before it both files are holes, which read as zeros alike. A file system
// that does not say where its holes are counts as data everywhere.
std::uint64_t NextDataInEither(int x, int y, std::uint64_t offset, std::uint64_t end)
{
    std::uint64_t next = end;
    for (const int fd : {x, y}) {
        const off_t data = lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
        if (data < 0 && errno != ENXIO)
            return offset;
        if (data >= 0)
            next = std::min(next, static_cast<std::uint64_t>(data));
    }
    return std::max(next, offset);
}

} // namespace


// One call of Check: a copy of the rows it compares, the groups, the
// threads that take them one by one, and the bytes read against the bytes to
// read. Its threads hold it: a check that was stopped returns without them.
class ContentChecker::Run final {
public:
    Run(std::shared_ptr<Memory> memory, std::shared_ptr<std::atomic<bool>> stop,
        std::function<void(std::uint64_t)> afterRead, const FileTable& table, const std::vector<CopyGroup>& groups)
        : memory_(std::move(memory)), stop_(std::move(stop)), afterRead_(std::move(afterRead)), groups_(groups)
    {
        // Only the rows compared, renumbered in the copy.
        std::unordered_map<std::string_view, std::uint32_t> folders;
        for (CopyGroup& group : groups_) {
            for (int& row : group.rows) {
                toRead_ += table.Size(row);
                const auto [at, added] = folders.try_emplace(table.Folder(row), 0);
                if (added)
                    at->second = table_.AddFolder(table.Folder(row));
                table_.AddFoundFile(at->second, table.Name(row),
                                    FileFacts{table.Size(row), table.CreationTime(row), table.Identity(row)});
                row = table_.RowCount() - 1;
            }
        }
    }

    std::uint64_t ToRead() const { return toRead_; }
    std::uint64_t Counted() const { return counted_.load(); }
    bool StopRequested() const { return stop_->load(); }

    // Each group's answers, for the caller's groups in the same order.
    void CopyAnswers(std::vector<CopyGroup>& groups) const
    {
        for (std::size_t i = 0; i < groups.size(); ++i)
            groups[i].answers = groups_[i].answers;
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
        std::vector<char> a(2 * kEndBytes), b(2 * kEndBytes);
        for (;;) {
            const std::size_t i = next_.fetch_add(1);
            if (i >= groups_.size() || StopRequested())
                return;
            CheckGroup(groups_[i], a, b);
        }
    }

private:
    // Newest first: every row is compared with one row of each content met
    // before it, and is the same as a newer copy when it matches a content
    // whose first row was created later than it.
    void CheckGroup(CopyGroup& group, std::vector<char>& a, std::vector<char>& b)
    {
        group.answers.assign(group.rows.size(), CopyGroup::kDiffers);
        std::uint64_t groupBytes = 0;
        for (int row : group.rows)
            groupBytes += table_.Size(row);
        std::uint64_t groupCounted = 0;
        auto count = [&](std::uint64_t bytes) {
            const std::uint64_t add = std::min(bytes, groupBytes - groupCounted);
            groupCounted += add;
            counted_ += add;
        };
        std::vector<std::size_t> all(group.rows.size());
        for (std::size_t i = 0; i < all.size(); ++i)
            all[i] = i;
        if (all.size() <= kPairwiseAtMost) {
            CompareWithin(group, all, a, b, count);
        } else {
            // Copies whose first and last 64 KiB differ cannot hold the same
            // bytes: a group of many different files costs one read of each
            // file's ends, and only copies with equal ends are compared whole.
            std::unordered_map<std::size_t, std::vector<std::size_t>> byEnds;
            for (std::size_t i = 0; i < all.size() && !StopRequested(); ++i) {
                if (const auto digest = EndsDigest(group.rows[i], a, count))
                    byEnds[*digest].push_back(i);
                else
                    group.answers[i] = CopyGroup::kUnreadable;
            }
            for (const auto& [digest, members] : byEnds) {
                if (members.size() > 1)
                    CompareWithin(group, members, a, b, count);
            }
        }
        count(groupBytes);
    }

    // The digest of the first and last 64 KiB of the file of `row`, or
    // nothing when it cannot be read as the search found it.
    template <typename Count>
    std::optional<std::size_t> EndsDigest(int row, std::vector<char>& buffer, Count& count)
    {
        const OpenCopy copy(table_, row);
        if (!copy.IsOpen())
            return std::nullopt;
        if (const auto known = memory_->RememberedEnds(copy.State()))
            return known;
        const std::uint64_t size = copy.State().size;
        const std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(kEndBytes, size));
        const std::uint64_t tailStart = std::max<std::uint64_t>(head, size > kEndBytes ? size - kEndBytes : 0);
        const auto tail = static_cast<std::size_t>(size - tailStart);
        if (!ReadAt(copy.Fd(), buffer.data(), head, 0) ||
            !ReadAt(copy.Fd(), buffer.data() + head, tail, tailStart))
            return std::nullopt;
        memory_->bytesRead += head + tail;
        count(head + tail);
        if (afterRead_)
            afterRead_(head + tail);
        const std::size_t digest = std::hash<std::string_view>()(std::string_view(buffer.data(), head + tail));
        if (copy.Unchanged())
            memory_->RememberEnds(copy.State(), digest);
        return digest;
    }

    // Among the copies `members` of `group` (newest first), every copy is
    // compared with one copy of each content met before it.
    template <typename Count>
    void CompareWithin(CopyGroup& group, const std::vector<std::size_t>& members, std::vector<char>& a,
                       std::vector<char>& b, Count& count)
    {
        struct Content {
            std::unique_ptr<OpenCopy> first;
            std::int64_t time = 0;
        };
        std::vector<Content> contents;
        for (std::size_t i : members) {
            if (StopRequested())
                return;
            const int row = group.rows[i];
            auto copy = std::make_unique<OpenCopy>(table_, row);
            if (!copy->IsOpen()) {
                group.answers[i] = CopyGroup::kUnreadable;
                continue;  // gone, changed or unreadable: like no other copy
            }
            const std::int64_t time = table_.CreationTime(row);
            bool matched = false;
            for (Content& content : contents) {
                if (Same(*content.first, *copy, a, b, count)) {
                    if (group.asked[i] && content.time > time)
                        group.answers[i] = CopyGroup::kSameAsNewer;
                    matched = true;
                    break;
                }
            }
            if (!matched)
                contents.push_back({std::move(copy), time});
        }
    }

    template <typename Count>
    bool Same(const OpenCopy& x, const OpenCopy& y, std::vector<char>& a, std::vector<char>& b, Count& count)
    {
        if (x.State().identity == y.State().identity)
            return true;  // one file reached twice
        if (const auto known = memory_->Remembered(x.State(), y.State()))
            return *known;
        const std::optional<bool> equal = Compare(x, y, a, b, count);
        if (!equal)
            return false;  // stopped, or a file changed while it was read: not the same
        if (!x.Unchanged() || !y.Unchanged())
            return false;
        memory_->Remember(x.State(), y.State(), *equal);
        return *equal;
    }

    template <typename Count>
    std::optional<bool> Compare(const OpenCopy& x, const OpenCopy& y, std::vector<char>& a, std::vector<char>& b,
                                Count& count)
    {
        const std::uint64_t size = x.State().size;
        auto part = [&](std::uint64_t offset, std::size_t length) -> std::optional<bool> {
            if (StopRequested())
                return std::nullopt;
            if (a.size() < length) {
                a.resize(length);
                b.resize(length);
            }
            if (!ReadAt(x.Fd(), a.data(), length, offset) || !ReadAt(y.Fd(), b.data(), length, offset))
                return std::nullopt;
            memory_->bytesRead += 2 * length;
            count(2 * length);
            if (afterRead_)
                afterRead_(2 * length);
            return std::memcmp(a.data(), b.data(), length) == 0;
        };
        const std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(kEndBytes, size));
        if (head > 0) {
            if (const auto same = part(0, head); !same || !*same)
                return same;
        }
        const std::uint64_t tailStart = std::max<std::uint64_t>(head, size > kEndBytes ? size - kEndBytes : 0);
        if (tailStart < size) {
            if (const auto same = part(tailStart, static_cast<std::size_t>(size - tailStart)); !same || !*same)
                return same;
        }
        if (tailStart > head) {
            posix_fadvise(x.Fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
            posix_fadvise(y.Fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
        }
        for (std::uint64_t offset = head; offset < tailStart;) {
            if (const std::uint64_t data = NextDataInEither(x.Fd(), y.Fd(), offset, tailStart); data > offset) {
                count(2 * (data - offset));
                offset = data;
                continue;
            }
            const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, tailStart - offset));
            if (const auto same = part(offset, length); !same || !*same)
                return same;
            offset += length;
        }
        return true;
    }

    std::shared_ptr<Memory> memory_;
    std::shared_ptr<std::atomic<bool>> stop_;
    std::function<void(std::uint64_t)> afterRead_;
    FileTable table_;
    std::vector<CopyGroup> groups_;
    std::mutex endMutex_;
    std::condition_variable ended_;
    unsigned running_ = 0;
    std::uint64_t toRead_ = 0;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::uint64_t> counted_{0};
};

bool ContentChecker::Check(const FileTable& table, std::vector<CopyGroup>& groups, Progress& progress)
{
    for (CopyGroup& group : groups)
        group.answers.assign(group.rows.size(), CopyGroup::kDiffers);
    if (groups.empty())
        return !StopRequested();
    // Biggest first, so that one large group does not start last.
    std::sort(groups.begin(), groups.end(), [&table](const CopyGroup& x, const CopyGroup& y) {
        return table.Size(x.rows.front()) * x.rows.size() > table.Size(y.rows.front()) * y.rows.size();
    });
    const auto run = std::make_shared<Run>(memory_, CurrentStop(), afterRead, table, groups);
    const std::uint64_t toReadKiB = (run->ToRead() + 1023) / 1024;
    progress.SetRange(0, static_cast<int>(std::min<std::uint64_t>(toReadKiB, INT_MAX)));

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned threads = static_cast<unsigned>(std::min<std::size_t>({kMaxThreads, std::max(2u, cores), groups.size()}));
    run->Started(threads);
    for (unsigned t = 0; t < threads; ++t) {
        std::thread([run] {
            run->Work();
            run->Ended();
        }).detach();
    }
    // This thread shows the progress until every worker has ended, or until
    // a stop: then the workers are left to end alone, which a worker waiting
    // on a read that never returns may never do.
    while (!run->WaitEnded(std::chrono::milliseconds(20))) {
        progress.SetPos(static_cast<int>(std::min<std::uint64_t>(run->Counted() / 1024, INT_MAX)));
        if (run->StopRequested()) {
            // Workers between reads end at once; one that is not is waiting
            // on its disk, and is let go after a moment.
            run->WaitEnded(std::chrono::milliseconds(50));
            return false;
        }
    }
    if (run->StopRequested())
        return false;
    run->CopyAnswers(groups);
    progress.SetPos(static_cast<int>(std::min<std::uint64_t>(run->Counted() / 1024, INT_MAX)));
    return true;
}

std::optional<bool> ContentChecker::KnownEqual(const FileTable& table, int a, int b) const
{
    const OpenCopy x(table, a);
    const OpenCopy y(table, b);
    if (!x.IsOpen() || !y.IsOpen())
        return std::nullopt;
    if (x.State().identity == y.State().identity)
        return true;
    const auto xEnds = memory_->RememberedEnds(x.State());
    const auto yEnds = memory_->RememberedEnds(y.State());
    if (xEnds && yEnds && *xEnds != *yEnds)
        return false;
    return memory_->Remembered(x.State(), y.State());
}

} // namespace snapsift
