// SPDX-License-Identifier: MIT
#pragma once

// The settings file, $XDG_CONFIG_HOME/snapsift/snapsift.conf: opened only
// when it is a regular file of a sensible size, and never in a way that can
// block (a FIFO or a device put there would hold the start and the end).

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

class QSettings;

namespace snapsift {

// Bigger than this, the file is not read.
inline constexpr std::size_t kMaxSettingsBytes = 16u << 20;

// Where the settings live.
std::string SettingsFilePath();

// True when the settings file may be opened: it is not there yet, or it is a
// regular file (a link to one counts) of at most kMaxSettingsBytes that
// opens without blocking.
bool SettingsFileSafe();

// The bytes of the settings file: empty when there is none, nothing when it
// is not safe to open.
std::optional<std::string> ReadSettingsFile();

// The settings, only when the file is safe to open; else null, and nothing
// is read or kept.
std::unique_ptr<QSettings> OpenSettings();

}  // namespace snapsift
