// SPDX-License-Identifier: MIT
#include "ui/visible_controls.h"

#include <cstddef>

namespace snapsift {

std::string VisibleControls(std::string_view bytes)
{
    std::string shown;
    shown.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x20) {
            // U+2400 + the code: the control pictures ␀ to ␟.
            shown += "\xe2\x90";
            shown += static_cast<char>(0x80 + byte);
        } else if (byte == 0x7f) {
            shown += "\u2421";  // ␡
        } else if (bytes.substr(i, 2) == "\u0085") {
            shown += "\u2424";  // ␤
            i += 1;
        } else if (bytes.substr(i, 3) == "\u2028" || bytes.substr(i, 3) == "\u2029") {
            shown += "\u2424";
            i += 2;
        } else {
            shown += static_cast<char>(byte);
        }
    }
    return shown;
}

}  // namespace snapsift
