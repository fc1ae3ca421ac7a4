// SPDX-License-Identifier: MIT
#pragma once

// The key file that holds a deletion's record, through GLib's GKeyFile, and
// the few facts of files and times the record writes.

#include "platform/file_system.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace snapsift {

inline constexpr const char* kDeletionGroup = "Deletion";

// One key file. Paths are written escaped as a .trashinfo's Path= is (every
// byte that is not printable ASCII, and %, as %XX) and read back to the same
// bytes.
class KeyFile final {
public:
    KeyFile();
    ~KeyFile();
    KeyFile(const KeyFile&) = delete;
    KeyFile& operator=(const KeyFile&) = delete;

    void Set(const char* key, const std::string& value, const char* group);
    void SetPath(const char* key, std::string_view path, const char* group);
    void SetInt(const char* key, std::int64_t value, const char* group);
    void SetUint(const char* key, std::uint64_t value, const char* group);
    std::optional<std::string> GetValue(const char* key, const char* group) const;
    std::optional<std::string> GetPath(const char* key, const char* group) const;
    std::int64_t GetInt(const char* key, const char* group) const;    // 0 when missing
    std::uint64_t GetUint(const char* key, const char* group) const;  // 0 when missing
    std::string Text() const;

    // Reads the file `name` of `folder`: a plain file of this user's, not a
    // link, of bounded size. `tornTail`: a journal whose last group a crash
    // cut short is read without it. `headingOnly`: the first group alone.
    bool LoadOwnFile(const FolderHandle& folder, const std::string& name, bool tornTail, bool headingOnly = false);

private:
    struct Keys;  // GLib's key file, kept out of this header
    std::unique_ptr<Keys> keys_;
};

// `seconds` in UTC, by default as "YYYY-MM-DDThh:mm:ssZ".
std::string FormatUtcTime(std::int64_t seconds, const char* pattern = "%Y-%m-%dT%H:%M:%SZ");

// A name that stands for one entry of a folder: not empty, no "/", not "." or "..".
bool IsPlainName(std::string_view name);

// The home trash, as the trash writer chooses it.
std::string UserTrashFolderPath();

// The birth time (0 where the file system keeps none) and the modification
// time of the file at `path`, not following a link.
struct FileTimes {
    std::int64_t birth = 0;
    std::int64_t modification = 0;
};
std::optional<FileTimes> StatTimes(const std::string& path);

}  // namespace snapsift
