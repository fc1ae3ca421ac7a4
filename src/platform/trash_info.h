// SPDX-License-Identifier: MIT
#pragma once

#include "platform/local_time.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace snapsift {

// The .trashinfo file of a trash entry, written and read here alone.

// The .trashinfo text for `path`: "[Trash Info]", Path= (escaped as GIO
// escapes it: every byte that is not printable ASCII as %XX) and
// DeletionDate= in local time, each line ended by LF.
std::string TrashInfoText(std::string_view path, std::int64_t deletionTime);

// DeletionDate's form, "YYYY-MM-DDThh:mm:ss" in local time.
std::string DeletionDateText(std::int64_t deletionTime);
// Every moment a DeletionDate names: both moments of an hour that repeats;
// one moment when it names its zone ("Z", "+09:00"). Empty when it names none.
std::optional<LocalReadings> ParseDeletionDate(const std::string& text);

// What a .trashinfo says.
struct TrashInfo {
    std::string path;                      // Path=, unescaped; relative to the mount's top or absolute
    std::optional<LocalReadings> deleted;  // DeletionDate=, empty when it cannot be read
};
// Reads a .trashinfo's text; empty when it is no key file or has no Path=
// that can be unescaped to a path.
std::optional<TrashInfo> ReadTrashInfo(std::string_view text);

}  // namespace snapsift
