// SPDX-License-Identifier: MIT
#include "ui/preview/decode/file_reading.h"
#include "ui/preview/decode/header_checks.h"

#include <algorithm>

namespace snapsift {

// A progressive JPEG is decoded into a buffer of all its coefficients, two
// bytes for each of the 64 in every 8 × 8 block of every component, however
// small the picture is shown and however few bytes the file has: 20000 ×
// 20000 pixels in three full components ask for 2.4 GB. Returns what the
// header asks for; 0 for a sequential JPEG, which needs a row of blocks only.
std::uint64_t JpegCoefficientBytes(int fd)
{
    ByteReader in(fd);
    if (in.Next() != 0xFF || in.Next() != 0xD8)
        return 0;
    for (;;) {
        if (!in.SeekFF())
            return 0;
        in.Next();
        int marker;
        do {
            marker = in.Next();
        } while (marker == 0xFF);
        if (marker < 0 || marker == 0xD9 || marker == 0xDA)
            return 0;  // no frame header before the first scan
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue;
        const int high = in.Next();
        const int low = in.Next();
        const int length = (high << 8) | low;
        if (low < 0 || length < 2)
            return 0;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (!frame) {
            in.Skip(length - 2);
            continue;
        }
        const bool progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
        in.Next();  // precision
        const std::uint64_t height = (static_cast<std::uint64_t>(in.Next()) << 8) | in.Next();
        const std::uint64_t width = (static_cast<std::uint64_t>(in.Next()) << 8) | in.Next();
        const int count = in.Next();
        if (!progressive || count <= 0)
            return 0;
        int h[256], v[256];
        int hMax = 1, vMax = 1;
        for (int c = 0; c < count; ++c) {
            in.Next();  // id
            const int factors = in.Next();
            in.Next();  // quantisation table
            h[c] = std::max(1, (factors >> 4) & 0x0F);
            v[c] = std::max(1, factors & 0x0F);
            hMax = std::max(hMax, h[c]);
            vMax = std::max(vMax, v[c]);
        }
        // Each component's blocks, its rows and columns padded to whole MCUs.
        const std::uint64_t mcuWidth = std::uint64_t{8} * hMax;
        const std::uint64_t mcuHeight = std::uint64_t{8} * vMax;
        const std::uint64_t mcuColumns = (width + mcuWidth - 1) / mcuWidth;
        const std::uint64_t mcuRows = (height + mcuHeight - 1) / mcuHeight;
        std::uint64_t blocks = 0;
        for (int c = 0; c < count; ++c)
            blocks += mcuColumns * h[c] * mcuRows * v[c];
        return blocks * 64 * 2;
    }
}

// A JPEG decoder fills a file that ends early with grey and reports success.
// The file is whole when its markers, walked from the start (segments by
// their lengths, scan data up to the next marker), reach the end-of-image
// marker. What follows that marker does not matter.
bool JpegIsWhole(int fd)
{
    ByteReader in(fd);
    if (in.Next() != 0xFF || in.Next() != 0xD8)
        return false;
    for (;;) {
        if (!in.SeekFF())
            return false;
        in.Next();
        int marker;
        do {
            marker = in.Next();
        } while (marker == 0xFF);
        if (marker < 0)
            return false;
        if (marker == 0xD9)
            return true;
        // Stuffed 0xFF in scan data, restart markers, and markers without a length.
        if (marker == 0x00 || marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        const int high = in.Next();
        const int low = in.Next();
        if (low < 0 || ((high << 8) | low) < 2)
            return false;
        in.Skip(((high << 8) | low) - 2);
    }
}

}  // namespace snapsift
