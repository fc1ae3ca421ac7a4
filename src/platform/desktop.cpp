// SPDX-License-Identifier: MIT
#include "platform/desktop.h"

#include <glib.h>

namespace snapsift {

std::string DesktopFolder()
{
    const gchar* dir = g_get_user_special_dir(G_USER_DIRECTORY_DESKTOP);
    return dir ? std::string(dir) : std::string();
}

}  // namespace snapsift
