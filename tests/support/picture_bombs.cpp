// SPDX-License-Identifier: MIT
#include "support/picture_bombs.h"

#include <cstdint>

namespace snapsift::testing {
namespace {

std::uint32_t Crc32(const std::string& bytes)
{
    std::uint32_t crc = 0xffffffffu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace

std::string PngBombBytes()
{
    auto be32 = [](std::uint32_t v) {
        return std::string{char(v >> 24), char((v >> 16) & 0xff), char((v >> 8) & 0xff), char(v & 0xff)};
    };
    const std::string ihdr = "IHDR" + be32(60000) + be32(60000) + std::string("\x08\x06\0\0\0", 5);
    const std::string idat = "IDAT" + std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8);
    return std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + ihdr + be32(Crc32(ihdr)) + be32(8) + idat +
           be32(Crc32(idat)) + be32(0) + "IEND" + be32(Crc32("IEND"));
}

// Three full-resolution components; every DC difference zero, one bit per block.
std::string ProgressiveDcOnlyJpeg(int side)
{
    auto be16 = [](int v) { return std::string{char(v >> 8), char(v & 0xff)}; };
    std::string jpeg("\xff\xd8", 2);
    jpeg += std::string("\xff\xdb", 2) + be16(67) + std::string(1, '\0') + std::string(64, '\1');
    jpeg += std::string("\xff\xc2", 2) + be16(17) + char(8) + be16(side) + be16(side) + char(3);
    for (int c = 1; c <= 3; ++c)
        jpeg += std::string{char(c), char(0x11), char(0)};
    // One DC code, "0", for the difference category 0.
    jpeg += std::string("\xff\xc4", 2) + be16(20) + char(0) + char(1) + std::string(15, '\0') + char(0);
    jpeg += std::string("\xff\xda", 2) + be16(12) + char(3);
    for (int c = 1; c <= 3; ++c)
        jpeg += std::string{char(c), char(0)};
    jpeg += std::string(3, '\0');  // spectral selection 0..0, no approximation
    const long long blocks = 3LL * ((side + 7) / 8) * ((side + 7) / 8);
    jpeg += std::string(static_cast<std::size_t>((blocks + 7) / 8), '\0');
    return jpeg + std::string("\xff\xd9", 2);
}

}  // namespace snapsift::testing
