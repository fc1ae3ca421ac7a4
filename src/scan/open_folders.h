// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_system.h"
#include "scan/folder_scan.h"
#include "scan/parallel_walk.h"
#include "scan/skipped_folders.h"
#include "scan/type_patterns.h"

#include <algorithm>
#include <atomic>
#include <memory>

namespace snapsift {

// A folder the walk keeps open for its subfolders (or opened ahead for its
// own listing), counted against the walk's budget until it closes.
using HeldFolder = std::shared_ptr<const FolderHandle>;

// How many folders the walk keeps open at once: a deep tree costs one step
// per level, not one walk from the top per folder, and a folder opened ahead
// by its parent's listing waits open for its own. A quarter of what
// `ulimit -n` allows, between 16 and 4096; wide levels fall back to opening
// from the target once the budget is spent. A breadth-first walk keeps the
// parents of a whole level open: 4096 let a level of 3,300 folders (a tree
// of 200,000 files) open every folder from its parent, a walk from the
// target costing a quarter more.
class FolderBudget final {
public:
    FolderBudget();
    explicit FolderBudget(int most) : most_(most) { }

    // Takes `folder` into the budget; empty (and `folder` closed) when it is spent.
    static HeldFolder Hold(const std::shared_ptr<FolderBudget>& budget, FolderHandle folder);

    // How many more folders fit now.
    int Room() const { return std::max(0, most_ - held_.load(std::memory_order_relaxed)); }

private:
    const int most_;
    std::atomic<int> held_{0};
};

// What the workers share with each other, and with nobody else: the pool may
// outlive the search that stopped it, and everything it reads with it.
struct WalkContext {
    TypePatterns types;
    SkippedFolders skipped = SkippedFolders(std::string(), std::string());
    FolderHandle target;     // open for the whole walk, for folders whose parent is not held
    std::string targetPath;  // its canonical path
    ScanHooks hooks;
    ScanIo io = ScanIo::Threads;
    std::shared_ptr<FolderBudget> budget = std::make_shared<FolderBudget>();

    // Keeps a folder open for its subfolders while the budget allows.
    HeldFolder Hold(FolderHandle folder) const
    {
        return hooks.holdNoFolder ? nullptr : FolderBudget::Hold(budget, std::move(folder));
    }
};

}  // namespace snapsift
