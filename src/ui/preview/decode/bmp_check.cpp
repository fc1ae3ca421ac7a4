// SPDX-License-Identifier: MIT
#include "ui/preview/decode/header_checks.h"

#include <cstdlib>
#include <unistd.h>

namespace snapsift {

namespace {

std::uint32_t LittleEndian(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

}  // namespace

// The BMP decoder leaves the rows that a short file lacks empty. An
// uncompressed bitmap is whole when the file holds every row its header
// promises; compressed ones are left to the decoder.
bool BmpIsWhole(int fd, std::uint64_t fileSize)
{
    unsigned char header[34];
    if (::pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
        return false;
    const std::uint32_t dataOffset = LittleEndian(header + 10, 4);
    const std::uint32_t infoSize = LittleEndian(header + 14, 4);
    if (infoSize < 40)
        return true;
    const std::int64_t width = static_cast<std::int32_t>(LittleEndian(header + 18, 4));
    const std::int64_t height = static_cast<std::int32_t>(LittleEndian(header + 22, 4));
    const std::uint32_t bitsPerPixel = LittleEndian(header + 28, 2);
    const std::uint32_t compression = LittleEndian(header + 30, 4);
    if (compression != 0 && compression != 3)
        return true;
    // At most 2^31 × 65535 bits a row; the rows together can pass 64 bits.
    const std::uint64_t stride = ((static_cast<std::uint64_t>(std::abs(width)) * bitsPerPixel + 31) / 32) * 4;
    std::uint64_t end = 0;
    if (__builtin_mul_overflow(stride, static_cast<std::uint64_t>(std::abs(height)), &end) ||
        __builtin_add_overflow(end, std::uint64_t{dataOffset}, &end))
        return false;
    return end <= fileSize;
}

}  // namespace snapsift
