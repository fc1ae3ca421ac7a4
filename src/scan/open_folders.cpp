// SPDX-License-Identifier: MIT
#include "scan/open_folders.h"

#include <algorithm>
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

}  // namespace

FolderBudget::FolderBudget() : most_(BudgetByLimit())
{ }

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
