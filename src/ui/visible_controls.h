// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace snapsift {

// A name or path as the window shows it: every control character (CR, LF,
// TAB and the rest of C0, DEL) as its visible symbol (␍ ␊ ␉ …), and the
// Unicode line and paragraph separators and NEL as ␤, so that a name stays on
// one line. Other bytes are kept. The log and the report keep the real bytes.
std::string VisibleControls(std::string_view bytes);

}  // namespace snapsift
