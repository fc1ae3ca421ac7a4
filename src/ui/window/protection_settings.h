// SPDX-License-Identifier: MIT
#pragma once

// The protected folders as the settings file holds them, read from its text
// within fixed bounds. Plain C++: the window reads the file's bytes, this
// takes them apart.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace snapsift {

// At most this many protected folders are read; the rest are ignored.
inline constexpr std::size_t kMaxProtectedFolders = 10000;

struct KeptFolder {
    std::string path;     // the folder's path, or the best reading of a broken entry
    std::string written;  // non-empty: the entry as written, which is no path as it stands
};

struct ProtectionSettings {
    std::vector<KeptFolder> folders;  // in the order of their numbers
    bool cut = false;                 // the file claims or holds more than kMaxProtectedFolders
};

// The entries `folders\N\path` of the group `[protection]` of the settings
// text, as the window writes them (a byte array `@ByteArray(...)` with the
// settings' escapes) or as a person writes them by hand. Work and memory are
// bounded by the text's length and kMaxProtectedFolders, whatever it claims.
ProtectionSettings ReadProtectionSettings(std::string_view text);

// One entry's value decoded. A value is broken when it is no absolute path
// in the form the window writes: a byte array holding raw bytes beyond ASCII
// (written by hand: the settings' own reading would change them), an escape
// beyond a byte, another stored type, a list, an unclosed quote, a relative
// path. Its best reading is then still taken, so that it protects what it
// names if it can.
KeptFolder DecodeProtectedPath(std::string_view value);

}  // namespace snapsift
