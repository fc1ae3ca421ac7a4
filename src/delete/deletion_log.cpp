// SPDX-License-Identifier: MIT
#include "delete/deletion_log.h"

#include "platform/file_system.h"
#include "platform/local_time.h"

#include <glib.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift {
namespace {

void AppendLine(std::string& out, const std::string& line)
{
    for (char c : line) {
        if (c == '%')
            out += "%25";  // so that a line that holds "%0A" names one path only
        else if (c == '\r')
            out += "%0D";
        else if (c == '\n')
            out += "%0A";
        else
            out.push_back(c);
    }
    out += "\r\n";
}

// A write beyond the file-size limit raises SIGXFSZ, which ends the process by
// default. While the block is written, such a write just fails instead.
class IgnoreFileSizeSignal final {
public:
    IgnoreFileSizeSignal()
    {
        struct sigaction ignore { };
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &previous_);
    }
    ~IgnoreFileSizeSignal() { sigaction(SIGXFSZ, &previous_, nullptr); }
    IgnoreFileSizeSignal(const IgnoreFileSizeSignal&) = delete;
    IgnoreFileSizeSignal& operator=(const IgnoreFileSizeSignal&) = delete;

private:
    struct sigaction previous_ { };
};

// Takes the log's lock, waiting up to `patience` while another process holds it.
bool LockWithin(int fd, const std::function<void()>& whileWaiting, std::chrono::milliseconds patience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = EWOULDBLOCK;
            return false;
        }
        if (whileWaiting)
            whileWaiting();
        usleep(10000);
    }
}

}  // namespace

std::string StateFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string folder;
    if (state && state[0] == '/') {
        folder = state;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/')
            return {};
        folder = std::string(home) + "/.local/state";
    }
    return folder + "/snapsift";
}

std::string FallbackDeletionLogPath()
{
    const std::string folder = StateFolder();
    return folder.empty() ? std::string() : folder + "/DeleteLog.log";
}

bool MakeFallbackLogFolder(const std::string& logPath)
{
    const std::size_t slash = logPath.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return false;
    return g_mkdir_with_parents(logPath.substr(0, slash).c_str(), 0700) == 0;
}

std::string DeletionLogBlock(std::int64_t startTime, const std::vector<std::string>& paths)
{
    std::string block(kDeletionLogHeading);
    block += "\r\n";
    const std::string when = DeletionLogTimeText(startTime);
    if (!when.empty()) {
        block += when;
        block += kDeletionLogStartSuffix;
        block += "\r\n";
    }
    for (const std::string& path : paths)
        AppendLine(block, path);
    return block;
}

OpenDeletionLog::~OpenDeletionLog()
{
    Close();
}

bool OpenDeletionLog::Identify(std::uint64_t& device, std::uint64_t& inode) const
{
    struct stat st { };
    if (fd_ < 0 || fstat(fd_, &st) != 0)
        return false;
    const FileIdentity identity = IdentityOf(st);
    device = identity.device;
    inode = identity.inode;
    return true;
}

void OpenDeletionLog::Close()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

LogOutcome OpenDeletionLog::Open(const std::string& logPath, std::int64_t startTime,
                                 const std::vector<std::string>& paths, const std::function<void()>& whileWaiting,
                                 std::chrono::milliseconds patience)
{
    Close();
    // O_NONBLOCK keeps a FIFO planted under the log's name from hanging the open.
    const int fd = open(logPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return LogOutcome::NotOpened;
    struct stat st { };
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return LogOutcome::NotOpened;
    }
    if (!LockWithin(fd, whileWaiting, patience)) {
        const bool locked = errno == EWOULDBLOCK;
        close(fd);
        return locked ? LogOutcome::Locked : LogOutcome::NotOpened;
    }
    fd_ = fd;
    path_ = logPath;
    // The block is written after the moves; that it fits is proved before them.
    LogOutcome probe = fstat(fd_, &st) == 0 ? Append(startTime, paths) : LogOutcome::NotOpened;
    if (probe == LogOutcome::Written && (ftruncate(fd_, st.st_size) != 0 || fsync(fd_) != 0))
        probe = LogOutcome::WriteFailed;
    if (probe != LogOutcome::Written)
        Close();
    return probe;
}

LogOutcome OpenDeletionLog::Append(std::int64_t startTime, const std::vector<std::string>& paths)
{
    struct stat st { };
    if (fd_ < 0 || fstat(fd_, &st) != 0)  // the length once the lock is ours: another writer may have added a block
        return LogOutcome::NotOpened;
    const IgnoreFileSizeSignal guard;
    const std::string block = DeletionLogBlock(startTime, paths);
    if (!WriteAll(fd_, block) || fsync(fd_) != 0) {
        // Leave no half block behind: the log ends where it ended before.
        if (ftruncate(fd_, st.st_size) == 0)
            fsync(fd_);
        return LogOutcome::WriteFailed;
    }
    return LogOutcome::Written;
}

LogOutcome AppendDeletionLog(std::int64_t startTime, const std::vector<std::string>& paths, const std::string& logPath,
                             const std::function<void()>& whileWaiting, std::chrono::milliseconds patience)
{
    OpenDeletionLog log;
    const LogOutcome opened = log.Open(logPath, startTime, paths, whileWaiting, patience);
    return opened == LogOutcome::Written ? log.Append(startTime, paths) : opened;
}

}  // namespace snapsift
