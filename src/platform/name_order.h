// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

namespace snapsift {

// The order of names in listings, the result list and the duplicate list:
// ASCII letters compared without case, every other byte as an unsigned byte,
// and names that differ only in the case of letters ordered by their bytes.
int CompareNames(std::string_view a, std::string_view b);

// True when the two names differ at most in the case of ASCII letters.
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);

// True when `text` begins with `prefix`, ASCII letters compared without case.
bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

}  // namespace snapsift
