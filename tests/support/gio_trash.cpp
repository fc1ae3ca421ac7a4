// SPDX-License-Identifier: MIT
#include "support/gio_trash.h"

#include <gio/gio.h>

namespace snapsift {

ShellResult MoveToTrash(const std::string& path)
{
    GFile* file = g_file_new_for_path(path.c_str());
    GError* error = nullptr;
    g_file_trash(file, nullptr, &error);
    g_object_unref(file);
    ShellResult result;
    result.ok = error == nullptr;
    if (error) {
        result.error = error->message ? error->message : "";
        g_error_free(error);
    }
    return result;
}

}  // namespace snapsift
