// SPDX-License-Identifier: MIT
#include "platform/file_descriptor.h"

#include <cerrno>
#include <sys/types.h>
#include <unistd.h>

namespace snapsift {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

FileDescriptor::~FileDescriptor()
{
    if (fd_ >= 0)
        close(fd_);
}

bool FileDescriptor::Close()
{
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || close(fd) == 0;
}

bool WriteAll(int fd, const void* data, std::size_t size)
{
    const auto* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t wrote = ::write(fd, at, size);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        at += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return true;
}

bool ReadAll(int fd, void* data, std::size_t size)
{
    auto* at = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = ::read(fd, at, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool ReadAt(int fd, void* into, std::size_t size, std::uint64_t offset)
{
    auto* at = static_cast<char*>(into);
    while (size > 0) {
        const ssize_t got = ::pread(fd, at, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO;  // shorter than it said
            return false;
        }
        at += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

}  // namespace snapsift
