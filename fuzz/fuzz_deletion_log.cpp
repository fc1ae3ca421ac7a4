// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes, as a deletion log on disk, to the reader of its last
// block, and to the decoding of a logged path. Neither may crash, hang or
// read out of bounds; a block read has a start time no later than its latest
// reading, and decoding never makes a path longer.
#include "delete/deletion_log_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

const std::string& LogPath()
{
    static const std::string path = [] {
        char folder[] = "/tmp/snapsift-fuzz-log-XXXXXX";
        if (mkdtemp(folder) == nullptr)
            std::abort();
        return std::string(folder) + "/DeleteLog.log";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = LogPath();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size) || close(fd) != 0)
        std::abort();
    snapsift::LoggedDeletion deletion;
    if (snapsift::ReadLastDeletion(path, deletion) == snapsift::LogReadOutcome::Read &&
        deletion.startTime > deletion.startTimeLatest)
        std::abort();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string decoded = snapsift::DecodeLoggedPath(text);
    if (decoded.size() > text.size())
        std::abort();
    return 0;
}
