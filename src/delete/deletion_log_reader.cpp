// SPDX-License-Identifier: MIT
#include "delete/deletion_log_reader.h"

#include "delete/deletion_log.h"
#include "platform/file_system.h"
#include "platform/local_time.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift {
namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr std::uint64_t kBlockLimit = std::uint64_t{1} << 30;  // far beyond any real deletion

// Where the last line that is exactly the block heading starts in the file
// `fd` of `size` bytes, looking back one chunk at a time.
enum class Found {
    Yes,
    No,
    Error
};
Found FindLastHeading(int fd, std::uint64_t size, std::uint64_t& at)
{
    const std::size_t overlap = kDeletionLogHeading.size() + 2;
    std::string buffer;
    std::uint64_t end = size;
    std::string carry;  // the first bytes after `end`, so that a heading across two chunks is found
    while (end > 0) {
        const std::uint64_t start = end > kChunk ? end - kChunk : 0;
        buffer.resize(static_cast<std::size_t>(end - start));
        if (!ReadAt(fd, buffer.data(), buffer.size(), start))
            return Found::Error;
        buffer += carry;
        for (std::size_t p = buffer.size(); p > 0;) {
            p = buffer.rfind(kDeletionLogHeading, p - 1);
            if (p == std::string::npos)
                break;
            const std::size_t after = p + kDeletionLogHeading.size();
            const bool lineStart = p > 0 ? buffer[p - 1] == '\n' : start == 0;
            const bool lineEnd =
                after == buffer.size() ? start + after == size : buffer[after] == '\n' || buffer[after] == '\r';
            if (lineStart && lineEnd && (p > 0 || start == 0)) {
                at = start + p;
                return Found::Yes;
            }
            if (p == 0)
                break;
        }
        carry = buffer.substr(0, std::min(overlap, buffer.size()));
        end = start;
    }
    return Found::No;
}

// "1999年07月05日 09時05分03秒 に削除したファイルを列挙" back to seconds,
// read in the local time zone.
bool ParseStartLine(std::string_view line, LoggedDeletion& deletion)
{
    if (line.size() <= kDeletionLogStartSuffix.size() ||
        line.substr(line.size() - kDeletionLogStartSuffix.size()) != kDeletionLogStartSuffix)
        return false;
    const std::string when(line.substr(0, line.size() - kDeletionLogStartSuffix.size()));
    const auto t = ParseDeletionLogTime(when);
    if (!t)
        return false;
    deletion.startTime = t->earliest;
    deletion.startTimeLatest = t->latest;
    deletion.startText = when;
    return true;
}

// The bytes of `logPath` from its last block heading to its end. Leaves errno
// as the failed call set it (0 for a log that is not a plain file).
LogReadOutcome ReadLastBlockText(const std::string& logPath, std::string& text)
{
    // O_NONBLOCK: a FIFO under the log's name must not hang the read.
    const int fd = open(logPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return LogReadOutcome::NotReadable;
    struct stat st { };
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = errno;
        close(fd);
        errno = S_ISREG(st.st_mode) ? error : 0;  // no system error: just not a plain file
        return LogReadOutcome::NotReadable;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t headingAt = 0;
    const Found found = FindLastHeading(fd, size, headingAt);
    bool ok = found == Found::Yes;
    if (ok && size - headingAt > kBlockLimit) {
        ok = false;
        errno = EFBIG;
    }
    if (ok) {
        text.resize(static_cast<std::size_t>(size - headingAt));
        ok = ReadAt(fd, text.data(), text.size(), headingAt);
    }
    const int error = errno;
    close(fd);
    errno = error;
    if (found == Found::No)
        return LogReadOutcome::NoBlock;
    return ok ? LogReadOutcome::Read : LogReadOutcome::NotReadable;
}

// The lines of `text`, without their line ends (LF or CR LF).
std::vector<std::string_view> SplitLines(const std::string& text)
{
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        const std::size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        at = next;
    }
    return lines;
}

// The deletion of the last heading among `lines`: its start line, then one
// path a line (empty lines skipped).
LogReadOutcome ParseBlock(const std::vector<std::string_view>& lines, LoggedDeletion& deletion)
{
    std::size_t heading = lines.size();
    for (std::size_t i = lines.size(); i-- > 0;) {
        if (lines[i] == kDeletionLogHeading) {
            heading = i;
            break;
        }
    }
    if (heading == lines.size())
        return LogReadOutcome::NoBlock;
    if (heading + 1 >= lines.size() || !ParseStartLine(lines[heading + 1], deletion))
        return LogReadOutcome::NoStartTime;
    deletion.paths.clear();
    for (std::size_t i = heading + 2; i < lines.size(); ++i) {
        if (!lines[i].empty())
            deletion.paths.push_back(DecodeLoggedPath(lines[i]));
    }
    return LogReadOutcome::Read;
}

}  // namespace

std::string DecodeLoggedPath(std::string_view logged)
{
    std::string path;
    path.reserve(logged.size());
    for (std::size_t i = 0; i < logged.size(); ++i) {
        const std::string_view rest = logged.substr(i, 3);
        if (rest == "%0D" || rest == "%0A" || rest == "%25") {
            path.push_back(rest == "%0D" ? '\r' : rest == "%0A" ? '\n' : '%');
            i += 2;
        } else {
            path.push_back(logged[i]);
        }
    }
    return path;
}

LogReadOutcome ReadLastDeletion(const std::string& logPath, LoggedDeletion& deletion)
{
    std::string text;
    const LogReadOutcome read = ReadLastBlockText(logPath, text);
    if (read != LogReadOutcome::Read)
        return read;
    return ParseBlock(SplitLines(text), deletion);
}

}  // namespace snapsift
