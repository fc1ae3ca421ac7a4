// SPDX-License-Identifier: MIT
#pragma once

#include "platform/local_time.h"

#include <cstdint>
#include <optional>
#include <string>

namespace snapsift {

// The start time of a deletion log's block, written and read here alone.

// The start time as the block's second line gives it (without the suffix):
// local time, "%Y年%m月%d日 %H時%M分%S秒". Empty when it has no local form.
std::string DeletionLogTimeText(std::int64_t startTime);

// Every moment such a text names in the local time zone: two in the hour that
// repeats. Empty when the whole text is not that form, or names no moment.
std::optional<LocalReadings> ParseDeletionLogTime(const std::string& text);

}  // namespace snapsift
