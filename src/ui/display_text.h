// SPDX-License-Identifier: MIT
#pragma once

#include "ui/window_texts.h"

#include <QString>

#include <string_view>

namespace snapsift {

// The text to show for bytes held by the program. Bytes that are not UTF-8
// are shown as replacement characters; the bytes themselves are never
// rebuilt from what is shown.
inline QString DisplayText(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// A name or path as shown in one line: its control characters as visible
// marks (VisibleControls), then as DisplayText.
inline QString ShownText(std::string_view bytes)
{
    return DisplayText(VisibleControls(bytes));
}

}  // namespace snapsift
