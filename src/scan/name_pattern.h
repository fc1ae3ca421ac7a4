// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

namespace snapsift {

// Matches a file name against a pattern of the form "*.jpg": `*` stands for
// any run of bytes, `?` for any one byte, and ASCII letters match without
// regard to case. Every other byte must be equal.
bool MatchesNamePattern(std::string_view name, std::string_view pattern);

}  // namespace snapsift
