// SPDX-License-Identifier: MIT
#include "review/content_files.h"

#include "platform/file_system.h"
#include "scan/file_table.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift::content {
namespace {

// Each comparing thread holds at most this many files open at once.
constexpr unsigned kMostPerThread = 16;
// Assumed open already when /proc does not say.
constexpr std::uint64_t kAssumedInUse = 64;

// The files this process has open now, or nothing when /proc cannot say.
std::optional<std::uint64_t> FilesOpenNow()
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return std::nullopt;
    std::uint64_t count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(dir);
    return count > 0 ? count - 1 : 0;  // not the listing's own
}

}  // namespace

std::optional<ContentChecker::FileState> StateOf(int fd)
{
    std::optional<FileState> state = ::snapsift::StateOf(fd);
    if (state && !S_ISREG(state->mode))
        state.reset();
    return state;
}

OpenCopy::OpenCopy(const FileTable& table, int row) : OpenCopy(ContentChecker::PlaceOf(table, row))
{ }

OpenCopy::OpenCopy(const ContentChecker::CopyPlace& place)
{
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    errno = 0;
    if (place.path.size() < PATH_MAX) {
        fd_ = FileDescriptor(open(place.path.c_str(), kFlags));
    } else {
        const FolderHandle folder = OpenFolder(place.folder);
        if (folder.IsOpen())
            fd_ = FileDescriptor(openat(folder.Fd(), place.name.c_str(), kFlags));
    }
    if (!fd_.IsOpen()) {
        error_ = errno != 0 ? errno : ENOENT;
        return;
    }
    const auto state = StateOf(fd_.Fd());
    if (!state || state->size != place.size || (place.identity.Known() && state->identity != place.identity)) {
        fd_.Close();
        error_ = kChanged;
        return;
    }
    state_ = *state;
}

bool OpenCopy::Unchanged() const
{
    const auto now = StateOf(fd_.Fd());
    return now && *now == state_;
}

bool TooManyOpen(int error)
{
    return error == EMFILE || error == ENFILE;
}

OpenBudget BudgetFor(unsigned threads)
{
    struct rlimit limit { };
    std::uint64_t soft = std::uint64_t{1} << 20;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        soft = limit.rlim_cur;
    const std::uint64_t inUse = FilesOpenNow().value_or(kAssumedInUse);
    // A quarter of what is left; the rest stays for everything else.
    const std::uint64_t total = (soft > inUse ? soft - inUse : 0) / 4;
    OpenBudget budget;
    budget.threads = static_cast<unsigned>(std::clamp<std::uint64_t>(total / 2, 1, std::max(1u, threads)));
    budget.perThread = static_cast<unsigned>(std::clamp<std::uint64_t>(total / budget.threads, 2, kMostPerThread));
    return budget;
}

std::uint64_t NextDataInEither(int x, int y, std::uint64_t offset, std::uint64_t end)
{
    std::uint64_t next = end;
    for (const int fd : {x, y}) {
        const off_t data = lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
        if (data < 0 && errno != ENXIO)
            return offset;
        if (data >= 0)
            next = std::min(next, static_cast<std::uint64_t>(data));
    }
    return std::max(next, offset);
}

}  // namespace snapsift::content
