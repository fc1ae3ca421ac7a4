// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes, as a picture file, to the header checks that run
// before a JPEG or BMP is decoded. None may crash, hang or read out of
// bounds, whatever the header claims, and no bitmap is called whole that
// lacks rows.
#include "ui/preview/decode/header_checks.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {

std::uint64_t Little(const std::uint8_t* bytes, int count)
{
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

// Whether an uncompressed bitmap's rows fit in `size` bytes, counted without
// any bound on the numbers; true for what the check leaves to the decoder.
bool RowsFit(const std::uint8_t* data, std::size_t size)
{
    if (size < 34 || Little(data + 14, 4) < 40)
        return true;
    const std::uint64_t compression = Little(data + 30, 4);
    if (compression != 0 && compression != 3)
        return true;
    const auto side = [&](int at) {
        const auto value = static_cast<std::int32_t>(static_cast<std::uint32_t>(Little(data + at, 4)));
        return static_cast<unsigned __int128>(value < 0 ? -static_cast<std::int64_t>(value) : value);
    };
    const unsigned __int128 stride = (side(18) * Little(data + 28, 2) + 31) / 32 * 4;
    return Little(data + 10, 4) + stride * side(22) <= size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const int fd = memfd_create("snapsift-fuzz-picture", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        std::abort();
    snapsift::JpegCoefficientBytes(fd);
    snapsift::JpegIsWhole(fd);
    if (snapsift::BmpIsWhole(fd, size) && !RowsFit(data, size))
        std::abort();  // called whole while rows are missing
    return 0;
}
