// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace snapsift::testing {

// Small files that ask a decoder for far more memory than they hold.

// A PNG of a few bytes claiming 60000 × 60000 pixels: valid checksums, one
// tiny compressed block.
std::string PngBombBytes();

// A progressive JPEG of side × side pixels holding only its first scan: a
// few megabytes that ask for a coefficient buffer of side² × 6 bytes.
std::string ProgressiveDcOnlyJpeg(int side);

}  // namespace snapsift::testing
