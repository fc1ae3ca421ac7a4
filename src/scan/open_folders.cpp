// SPDX-License-Identifier: MIT
#include "scan/open_folders.h"

#include "platform/file_descriptor.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/resource.h>

namespace snapsift {

namespace {

int BudgetByLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 4096;
    return static_cast<int>(std::clamp<rlim_t>(limit.rlim_cur / 4, 16, 4096));
}

// The kernel grows a process's table of descriptors as more are open, and
// in a process with more than one thread it then waits for every processor
// to pass a quiet point: a few milliseconds of sleep, which a worker would
// take for a wait on the disk (and open its deep queue for). The table is
// grown once here, on the thread that starts the walk, for as many folders as
// the walk may hold and the workers' own descriptors beside them. The table
// never shrinks, so later walks find it grown.
void GrowDescriptorTable(int most)
{
    constexpr rlim_t kBesideTheBudget = 256;  // folders being listed, rings, the target
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    rlim_t top = static_cast<rlim_t>(most) + kBesideTheBudget;
    if (limit.rlim_cur != RLIM_INFINITY)
        top = std::min(top, limit.rlim_cur - 1);
    const FileDescriptor any(open("/", O_PATH | O_CLOEXEC));
    if (!any.IsOpen())
        return;
    // Only the table's growth is wanted: the copy closes as this returns.
    const FileDescriptor far(fcntl(any.Fd(), F_DUPFD_CLOEXEC, static_cast<int>(top)));
}

}  // namespace

FolderBudget::FolderBudget() : most_(BudgetByLimit())
{
    GrowDescriptorTable(most_);
}

HeldFolder FolderBudget::Hold(const std::shared_ptr<FolderBudget>& budget, FolderHandle folder)
{
    if (budget->held_.fetch_add(1) >= budget->most_) {
        budget->held_.fetch_sub(1);
        return nullptr;
    }
    return HeldFolder(new FolderHandle(std::move(folder)), [budget](const FolderHandle* h) {
        delete h;
        budget->held_.fetch_sub(1);
    });
}

}  // namespace snapsift
