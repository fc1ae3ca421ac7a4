// SPDX-License-Identifier: MIT
#pragma once

#include "delete/log_time.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace snapsift {

// The first line of every block, and how its second line, the start time,
// ends; the writer and the reader of the log share them.
inline constexpr std::string_view kDeletionLogHeading = "## このファイルは不必要ならば削除しても構いません ##";
inline constexpr std::string_view kDeletionLogStartSuffix = " に削除したファイルを列挙";

enum class LogOutcome {
    Written,      // the whole block is on disk
    NotOpened,    // the log could not be opened (or is not a plain file); nothing written
    Locked,       // another process held the log's lock for too long; nothing written
    WriteFailed,  // writing failed; the log is back to its length before the block
};

// The log that takes the block when "DeleteLog.log" in the current folder
// cannot: $XDG_STATE_HOME/snapsift/DeleteLog.log (by default
// ~/.local/state/snapsift/DeleteLog.log). Empty when no home is known.
std::string FallbackDeletionLogPath();
// Makes the folders of the fallback log (mode 0700) where they are missing.
bool MakeFallbackLogFolder(const std::string& logPath);

// The block for one confirmed deletion, as it is written: the heading line,
// the start time line and one line per path, each ended by CR LF. The bytes
// %, CR and LF inside a path are written as %25, %0D and %0A; every other byte
// as it is, so each line names exactly one path.
std::string DeletionLogBlock(std::int64_t startTime, const std::vector<std::string>& paths);

// The folder of Snapsift's own state: $XDG_STATE_HOME/snapsift (by default
// ~/.local/state/snapsift). Empty when no home is known.
std::string StateFolder();

// How long a deletion waits for the log while another one is writing it.
constexpr std::chrono::milliseconds kLogLockPatience{10000};

// A deletion log held open and locked from before the first move until the
// block is written: another deletion that writes the same log waits.
class OpenDeletionLog final {
public:
    OpenDeletionLog() = default;
    ~OpenDeletionLog();
    OpenDeletionLog(const OpenDeletionLog&) = delete;
    OpenDeletionLog& operator=(const OpenDeletionLog&) = delete;

    // Opens the log at `logPath` (created when missing, never truncated, never
    // reached through a link) and takes its lock. While another process holds
    // the lock, tries again every few milliseconds, calling `whileWaiting`
    // between tries, for up to `patience`; a lock still held then gives Locked.
    // Then proves that a block naming `paths` fits: writes it and takes it
    // away again (WriteFailed when it does not fit).
    LogOutcome Open(const std::string& logPath, std::int64_t startTime, const std::vector<std::string>& paths,
                    const std::function<void()>& whileWaiting = {},
                    std::chrono::milliseconds patience = kLogLockPatience);
    // Appends the block and flushes it to disk. On failure the log ends where
    // it ended before.
    LogOutcome Append(std::int64_t startTime, const std::vector<std::string>& paths);
    bool IsOpen() const { return fd_ >= 0; }
    // The open log's device (major << 32 | minor, as FileIdentity has it) and inode.
    bool Identify(std::uint64_t& device, std::uint64_t& inode) const;
    const std::string& Path() const { return path_; }
    void Close();

private:
    int fd_ = -1;
    std::string path_;
};

// Opens, locks and appends the block at once (OpenDeletionLog::Open, then
// Append).
LogOutcome AppendDeletionLog(std::int64_t startTime, const std::vector<std::string>& paths, const std::string& logPath,
                             const std::function<void()>& whileWaiting = {},
                             std::chrono::milliseconds patience = kLogLockPatience);

}  // namespace snapsift
