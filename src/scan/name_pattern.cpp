// SPDX-License-Identifier: MIT
#include "scan/name_pattern.h"

#include "platform/name_order.h"

namespace snapsift {
namespace {

bool SameLetter(char a, char b)
{
    return FoldAsciiCase(a) == FoldAsciiCase(b);
}

}  // namespace

bool MatchesNamePattern(std::string_view name, std::string_view pattern)
{
    // "*" and plain bytes after it, as every type's pattern is: the name must
    // end with those bytes. A search asks this of every file it lists.
    if (!pattern.empty() && pattern[0] == '*' && pattern.find_first_of("*?", 1) == std::string_view::npos) {
        const std::string_view tail = pattern.substr(1);
        if (name.size() < tail.size())
            return false;
        const std::string_view end = name.substr(name.size() - tail.size());
        for (std::size_t i = 0; i < tail.size(); ++i) {
            if (!SameLetter(tail[i], end[i]))
                return false;
        }
        return true;
    }
    // Iterative glob with one backtrack point: linear in practice, never
    // exponential, whatever the number of stars.
    std::size_t n = 0, p = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || SameLetter(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

}  // namespace snapsift
