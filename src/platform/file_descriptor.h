// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace snapsift {

// An open file or folder. Owns its descriptor and closes it; moves, never copies.
class FileDescriptor final {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) { }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // Closes it now; false, with errno, when the close reports an error
    // (a write that did not reach the disk).
    bool Close();

private:
    int fd_ = -1;
};

// Writes all `size` bytes to `fd`, going on after interruptions and short
// writes; false when the system refuses or writes nothing.
bool WriteAll(int fd, const void* data, std::size_t size);
inline bool WriteAll(int fd, std::string_view data)
{
    return WriteAll(fd, data.data(), data.size());
}

// Reads exactly `size` bytes from where `fd` stands; false at the end of the
// input first, or on an error.
bool ReadAll(int fd, void* data, std::size_t size);

// Reads exactly `size` bytes at `offset` of `fd`; false on an error, or on
// a file shorter than that (errno EIO).
bool ReadAt(int fd, void* into, std::size_t size, std::uint64_t offset);

}  // namespace snapsift
