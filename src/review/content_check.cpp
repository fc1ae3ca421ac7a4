// SPDX-License-Identifier: MIT
#include "review/content_check.h"

#include "platform/progress.h"
#include "review/content_run.h"
#include "scan/file_table.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <optional>
#include <thread>
#include <tuple>

namespace snapsift {
namespace {

constexpr unsigned kMaxThreads = 4;

} // namespace

bool ContentChecker::Check(const FileTable& table, std::vector<CopyGroup>& groups, Progress& progress)
{
    for (CopyGroup& group : groups) {
        group.answers.assign(group.rows.size(), CopyGroup::kDiffers);
        group.errors.assign(group.rows.size(), 0);
    }
    if (groups.empty())
        return !StopRequested();
    // Biggest first, so that one large group does not start last.
    std::sort(groups.begin(), groups.end(), [&table](const CopyGroup& x, const CopyGroup& y) {
        return table.Size(x.rows.front()) * x.rows.size() > table.Size(y.rows.front()) * y.rows.size();
    });
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const content::OpenBudget budget = content::BudgetFor(
        static_cast<unsigned>(std::min<std::size_t>({kMaxThreads, std::max(2u, cores), groups.size()})));
    Run run(*this, table, groups, budget.perThread);
    const std::uint64_t toReadKiB = (run.ToRead() + 1023) / 1024;
    progress.SetRange(0, static_cast<int>(std::min<std::uint64_t>(toReadKiB, INT_MAX)));

    const unsigned threads = budget.threads;
    std::mutex mutex;
    std::condition_variable ended;
    unsigned running = threads;
    std::vector<std::jthread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            run.Work();
            const std::lock_guard lock(mutex);
            --running;
            ended.notify_one();
        });
    }
    // This thread shows the progress until every worker has ended.
    for (;;) {
        progress.SetPos(static_cast<int>(std::min<std::uint64_t>(run.Counted() / 1024, INT_MAX)));
        std::unique_lock lock(mutex);
        if (ended.wait_for(lock, std::chrono::milliseconds(20), [&] { return running == 0; }))
            break;
    }
    workers.clear();
    progress.SetPos(static_cast<int>(std::min<std::uint64_t>(run.Counted() / 1024, INT_MAX)));
    return !StopRequested();
}

std::optional<bool> ContentChecker::KnownEqual(const FileTable& table, int a, int b) const
{
    const content::OpenCopy x(table, a);
    const content::OpenCopy y(table, b);
    if (!x.IsOpen() || !y.IsOpen())
        return std::nullopt;
    return KnownEqual(x.State(), y.State());
}

ContentChecker::CopyPlace ContentChecker::PlaceOf(const FileTable& table, int row)
{
    return {table.Path(row), table.Folder(row), std::string(table.Name(row)), table.Size(row), table.Identity(row)};
}

std::optional<ContentChecker::FileState> ContentChecker::StateOfCopy(const CopyPlace& place)
{
    const content::OpenCopy copy(place);
    if (!copy.IsOpen())
        return std::nullopt;
    return copy.State();
}

std::optional<bool> ContentChecker::KnownEqual(const FileState& x, const FileState& y) const
{
    if (x.identity == y.identity)
        return true;
    const auto xEnds = RememberedEnds(x);
    const auto yEnds = RememberedEnds(y);
    if (xEnds && yEnds && *xEnds != *yEnds)
        return false;
    const auto xWhole = RememberedWhole(x);
    const auto yWhole = RememberedWhole(y);
    if (xWhole && yWhole && *xWhole != *yWhole)
        return false;
    return Remembered(x, y);
}

std::optional<std::size_t> ContentChecker::RememberedEnds(const FileState& file) const
{
    const std::lock_guard lock(mutex_);
    const auto it = digests_.find(file.identity);
    if (it == digests_.end() || !(it->second.state == file))
        return std::nullopt;
    return it->second.ends;
}

void ContentChecker::RememberEnds(const FileState& file, std::size_t digest)
{
    const std::lock_guard lock(mutex_);
    Digests& known = digests_[file.identity];
    if (!(known.state == file))
        known = {file, std::nullopt, std::nullopt};
    known.ends = digest;
}

std::optional<std::uint64_t> ContentChecker::RememberedWhole(const FileState& file) const
{
    const std::lock_guard lock(mutex_);
    const auto it = digests_.find(file.identity);
    if (it == digests_.end() || !(it->second.state == file))
        return std::nullopt;
    return it->second.whole;
}

void ContentChecker::RememberWhole(const FileState& file, std::uint64_t digest)
{
    const std::lock_guard lock(mutex_);
    Digests& known = digests_[file.identity];
    if (!(known.state == file))
        known = {file, std::nullopt, std::nullopt};
    known.whole = digest;
}

std::optional<bool> ContentChecker::Remembered(const FileState& a, const FileState& b) const
{
    const bool swap = std::tie(b.identity.device, b.identity.inode) < std::tie(a.identity.device, a.identity.inode);
    const FileState& first = swap ? b : a;
    const FileState& second = swap ? a : b;
    const std::lock_guard lock(mutex_);
    const auto it = answers_.find({first.identity, second.identity});
    if (it == answers_.end() || !(it->second.a == first) || !(it->second.b == second))
        return std::nullopt;
    return it->second.equal;
}

void ContentChecker::Remember(const FileState& a, const FileState& b, bool equal)
{
    const bool swap = std::tie(b.identity.device, b.identity.inode) < std::tie(a.identity.device, a.identity.inode);
    const FileState& first = swap ? b : a;
    const FileState& second = swap ? a : b;
    const std::lock_guard lock(mutex_);
    answers_[{first.identity, second.identity}] = {first, second, equal};
}

} // namespace snapsift
