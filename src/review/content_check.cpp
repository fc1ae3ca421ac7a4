// SPDX-License-Identifier: MIT
#include "review/content_check.h"

#include "platform/progress.h"
#include "review/content_memory.h"
#include "review/content_run.h"
#include "scan/file_table.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <numeric>
#include <optional>
#include <thread>

namespace snapsift {
namespace {

constexpr unsigned kMaxThreads = 4;

int KiB(std::uint64_t bytes)
{
    return static_cast<int>(std::min<std::uint64_t>(bytes / 1024, INT_MAX));
}

}  // namespace

bool ContentChecker::Check(const FileTable& table, CopyGroups& groups, Progress& progress)
{
    groups.answers.assign(groups.rows.size(), CopyGroups::kDiffers);
    groups.errors.assign(groups.rows.size(), 0);
    if (groups.GroupCount() == 0)
        return !StopRequested();
    // Biggest first, so that one large group does not start last.
    std::vector<std::uint32_t> order(groups.GroupCount());
    std::iota(order.begin(), order.end(), std::uint32_t{0});
    const auto bytes = [&](std::uint32_t g) {
        return table.Size(static_cast<int>(groups.rows[groups.Begin(g)])) * (groups.End(g) - groups.Begin(g));
    };
    std::sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) { return bytes(x) > bytes(y); });
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const content::OpenBudget budget = content::BudgetFor(
        static_cast<unsigned>(std::min<std::size_t>({kMaxThreads, std::max(2u, cores), groups.GroupCount()})));
    const auto run =
        std::make_shared<Run>(memory_, CurrentStop(), afterRead, table, groups, std::move(order), budget.perThread);
    progress.SetRange(0, KiB(run->ToRead() + 1023));

    run->Started(budget.threads);
    for (unsigned t = 0; t < budget.threads; ++t) {
        std::thread([run] {
            run->Work();
            run->Ended();
        }).detach();
    }
    // This thread shows the progress until every worker has ended, or until
    // a stop: then the workers are left to end alone, which a worker waiting
    // on a read that never returns may never do.
    while (!run->WaitEnded(std::chrono::milliseconds(20))) {
        progress.SetPos(KiB(run->Counted()));
        if (run->StopRequested()) {
            // Workers between reads end at once; one that is not is waiting
            // on its disk, and is let go after a moment.
            run->WaitEnded(std::chrono::milliseconds(50));
            run->Detach();
            return false;
        }
    }
    run->Detach();
    if (run->StopRequested())
        return false;
    run->TakeAnswers(groups);
    progress.SetPos(KiB(run->Counted()));
    return true;
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
    const auto xEnds = memory_->RememberedEnds(x);
    const auto yEnds = memory_->RememberedEnds(y);
    if (xEnds && yEnds && *xEnds != *yEnds)
        return false;
    const auto xWhole = memory_->RememberedWhole(x);
    const auto yWhole = memory_->RememberedWhole(y);
    if (xWhole && yWhole && *xWhole != *yWhole)
        return false;
    return memory_->Remembered(x, y);
}

}  // namespace snapsift
