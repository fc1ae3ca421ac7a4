// SPDX-License-Identifier: MIT
#pragma once

#include "scan/folder_scan.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace snapsift {

// One pass of a search: the files it adds, by a pattern ("*.jpg") or by the
// endings of a picture type. Bit p of a file's tag says it belongs to pass p.
struct Pass {
    std::string pattern;
    std::span<const std::string_view> extensions;  // used when not empty; lower case, no dot
};

// At most this many passes: the four, every picture type and the further extensions.
constexpr std::size_t kMostPasses = 4 + kPictureKindCount + kMostMoreExtensions;
static_assert(kMostPasses <= 32, "a file's tag has a bit per pass");

struct TypePatterns {
    std::vector<Pass> passes;  // the ticked ones, in pass order
};

// The passes of the ticked and chosen types, in pass order.
TypePatterns PassesOf(const SearchOptions& options);

// The passes a file of this name belongs to, one bit each; 0 for none.
// `context` is the TypePatterns (the shape of a listing's file filter).
std::uint32_t MatchTypes(std::string_view name, const void* context);

}  // namespace snapsift
