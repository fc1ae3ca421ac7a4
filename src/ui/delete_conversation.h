// SPDX-License-Identifier: MIT
#pragma once

#include "delete/delete_selected.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace snapsift {

class Messenger;
class Progress;
class ProtectedFolders;
class ResultView;

// The delete button's steps between the window and the core, without Qt: count
// the selected rows (or say that none is), ask to confirm, delete, and tell
// in one message where the record went when not to `logPath`, which files
// were not moved, or that nothing was moved because no log took the block.
// Selected files under a folder in `protection` are named apart in the
// question and never moved.
// The window and the tests both run the deletion through this.
DeleteOutcome DeleteWithConfirmation(ResultView& view, Messenger& messenger, Progress& progress,
                                     const std::string& logPath, std::int64_t startTime,
                                     const TrashHooks& hooks = {}, const ProtectedFolders* protection = nullptr,
                                     std::chrono::milliseconds patience = kLogLockPatience);

} // namespace snapsift
