// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace snapsift {

// What a progressive JPEG's header asks the decoder to hold: a buffer of all
// its coefficients, however small it is shown. 0 for a sequential JPEG.
std::uint64_t JpegCoefficientBytes(int fd);

// True when the JPEG's markers, walked from the start, reach its end marker:
// a decoder fills a file that ends early with grey and reports success.
bool JpegIsWhole(int fd);

// True when an uncompressed bitmap holds every row its header promises
// (compressed ones are left to the decoder).
bool BmpIsWhole(int fd, std::uint64_t fileSize);

}  // namespace snapsift
