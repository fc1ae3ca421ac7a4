// SPDX-License-Identifier: MIT
#include "delete/log_time.h"

#include <cstdio>

namespace snapsift {

std::string DeletionLogTimeText(std::int64_t startTime)
{
    return FormatLocalTime(startTime, "%Y年%m月%d日 %H時%M分%S秒");
}

std::optional<LocalReadings> ParseDeletionLogTime(const std::string& text)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, consumed = -1;
    if (std::sscanf(text.c_str(), "%4d年%2d月%2d日 %2d時%2d分%2d秒%n", &y, &mo, &d, &h, &mi, &s, &consumed) != 6 ||
        consumed != static_cast<int>(text.size()))
        return std::nullopt;
    return LocalTimeReadings(y, mo, d, h, mi, s);
}

}  // namespace snapsift
