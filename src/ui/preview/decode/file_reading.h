// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_descriptor.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sys/types.h>
#include <unistd.h>

namespace snapsift {

// Reads a file front to back through pread, without moving the descriptor.
class ByteReader final {
public:
    explicit ByteReader(int fd) : fd_(fd) { }
    // The next byte, or -1 at the end of the file or on a read error.
    int Next()
    {
        if (pos_ == len_ && !Fill())
            return -1;
        return buffer_[pos_++];
    }
    // Passes over bytes up to the next 0xFF, which stays unread; false at the end.
    bool SeekFF()
    {
        for (;;) {
            if (pos_ == len_ && !Fill())
                return false;
            const void* hit = std::memchr(buffer_ + pos_, 0xFF, len_ - pos_);
            if (hit) {
                pos_ = static_cast<const unsigned char*>(hit) - buffer_;
                return true;
            }
            pos_ = len_;
        }
    }
    void Skip(std::uint64_t count)
    {
        const std::uint64_t buffered = len_ - pos_;
        if (count <= buffered) {
            pos_ += count;
            return;
        }
        offset_ += static_cast<off_t>(count - buffered);  // a segment's length: at most 64 KiB
        pos_ = len_ = 0;
    }

private:
    bool Fill()
    {
        ssize_t got;
        do {
            got = ::pread(fd_, buffer_, sizeof buffer_, offset_);
        } while (got < 0 && errno == EINTR);
        if (got <= 0)
            return false;
        offset_ += got;
        pos_ = 0;
        len_ = static_cast<std::size_t>(got);
        return true;
    }

    int fd_;
    off_t offset_ = 0;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    unsigned char buffer_[64 * 1024];
};

}  // namespace snapsift
