// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

namespace snapsift {

// An ASCII capital letter as its small letter; every other byte as it is.
// The one case folding of names, patterns and extensions.
constexpr unsigned char FoldAsciiCase(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}
constexpr char FoldAsciiCase(char c)
{
    return static_cast<char>(FoldAsciiCase(static_cast<unsigned char>(c)));
}

// The order of names in listings, the result list and the duplicate list:
// ASCII letters compared without case, every other byte as an unsigned byte,
// and names that differ only in the case of letters ordered by their bytes.
int CompareNames(std::string_view a, std::string_view b);

// True when the two names differ at most in the case of ASCII letters.
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);

// True when `text` begins with `prefix`, ASCII letters compared without case.
bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

}  // namespace snapsift
