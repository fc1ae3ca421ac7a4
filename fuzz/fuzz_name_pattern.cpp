// SPDX-License-Identifier: MIT
// Feeds arbitrary name/pattern pairs to the pattern matcher and checks it
// against a plain recursive matcher on short inputs.
#include "scan/name_pattern.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool SameLetter(char a, char b)
{
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return fold(a) == fold(b);
}

bool Reference(std::string_view name, std::string_view pattern)
{
    if (pattern.empty())
        return name.empty();
    if (pattern[0] == '*')
        return Reference(name, pattern.substr(1)) || (!name.empty() && Reference(name.substr(1), pattern));
    if (name.empty())
        return false;
    return (pattern[0] == '?' || SameLetter(pattern[0], name[0])) && Reference(name.substr(1), pattern.substr(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The first NUL splits name from pattern; without one the pattern is "*." + input.
    const std::size_t split = input.find('\0');
    const std::string_view name = split == std::string_view::npos ? input : input.substr(0, split);
    const std::string_view pattern =
        split == std::string_view::npos ? std::string_view("*.jpg") : input.substr(split + 1);
    const bool got = snapsift::MatchesNamePattern(name, pattern);
    if (name.size() <= 12 && pattern.size() <= 12 && got != Reference(name, pattern))
        std::abort();
    return 0;
}
