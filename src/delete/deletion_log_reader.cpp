#include "delete/deletion_log_reader.h"

#include "delete/deletion_log.h"
#include "platform/local_time.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift {
namespace {

bool ReadWholeFile(const std::string& path, std::string& text)
{
    // O_NONBLOCK: a FIFO under the log's name must not hang the read.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        ok = false;
        errno = 0;  // no system error: just not a plain file
    }
    char buffer[1 << 16];
    while (ok) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        else if (n == 0)
            break;
        else
            text.append(buffer, static_cast<std::size_t>(n));
    }
    const int readError = errno;
    close(fd);
    errno = readError;
    return ok;
}

// "1999年07月05日 09時05分03秒 に削除したファイルを列挙" back to seconds,
// read in the local time zone.
bool ParseStartLine(std::string_view line, std::int64_t& seconds)
{
    if (line.size() <= kDeletionLogStartSuffix.size() || line.substr(line.size() - kDeletionLogStartSuffix.size()) != kDeletionLogStartSuffix)
        return false;
    const std::string when(line.substr(0, line.size() - kDeletionLogStartSuffix.size()));
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, consumed = -1;
    if (std::sscanf(when.c_str(), "%4d年%2d月%2d日 %2d時%2d分%2d秒%n", &y, &mo, &d, &h, &mi, &s, &consumed) != 6 ||
        consumed != static_cast<int>(when.size()))
        return false;
    const auto t = LocalTimeFromParts(y, mo, d, h, mi, s);
    if (!t)
        return false;
    seconds = *t;
    return true;
}

} // namespace

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
    if (!ReadWholeFile(logPath, text))
        return LogReadOutcome::NotReadable;

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
    std::size_t heading = lines.size();
    for (std::size_t i = lines.size(); i-- > 0;) {
        if (lines[i] == kDeletionLogHeading) {
            heading = i;
            break;
        }
    }
    if (heading == lines.size())
        return LogReadOutcome::NoBlock;
    if (heading + 1 >= lines.size() || !ParseStartLine(lines[heading + 1], deletion.startTime))
        return LogReadOutcome::NoStartTime;
    deletion.paths.clear();
    for (std::size_t i = heading + 2; i < lines.size(); ++i) {
        if (!lines[i].empty())
            deletion.paths.push_back(DecodeLoggedPath(lines[i]));
    }
    return LogReadOutcome::Read;
}

} // namespace snapsift
