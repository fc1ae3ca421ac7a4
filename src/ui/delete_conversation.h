// SPDX-License-Identifier: MIT
#pragma once

#include "delete/delete_selected.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace snapsift {

class Messenger;
class Progress;
class ProtectedFolders;
class ResultView;

// A step of the deletion that looks at the disks. It owns all it touches,
// so that a step left to end alone on a disk that does not answer harms nothing.
using DiskStep = std::function<void(Progress&, const std::stop_token&)>;

// Where the deletion's looks at the disks run. By default right where the
// conversation runs, with the progress it was given; the window runs them
// beside itself. `run` returns false when the program is ending meanwhile:
// the conversation then ends at once and shows nothing more. `moves` says
// that the step moves files: asked to stop, it finishes the file in hand
// and its record first.
struct DeleteSteps {
    std::function<bool(DiskStep step, bool moves)> run;
};

// Of `folders` (canonical paths), a flag for each that lies under a folder
// of `protection`. Resolves each protected folder kept from an earlier run
// (a realpath), which may wait on its disk.
std::vector<std::uint8_t> CoveredFolders(const ProtectedFolders& protection, const std::vector<std::string>& folders);

// The delete button's steps between the window and the core, without Qt: take
// the selected list rows `selected` (or say that none is), ask to confirm, delete, and tell
// in one message where the record went when not to `logPath`, which files
// were not moved, or that nothing was moved because no log took the block.
// Selected files under a folder in `protection` are named apart in the
// question and never moved.
// The window and the tests both run the deletion through this.
DeleteOutcome DeleteWithConfirmation(ResultView& view, const std::vector<int>& selected, Messenger& messenger,
                                     Progress& progress, const std::string& logPath, std::int64_t startTime,
                                     const TrashHooks& hooks = {}, const ProtectedFolders* protection = nullptr,
                                     std::chrono::milliseconds patience = kLogLockPatience,
                                     const DeleteSteps& steps = {});

}  // namespace snapsift
