// SPDX-License-Identifier: MIT
#include "platform/user_desktop.h"

#include <gio/gio.h>

namespace snapsift {
namespace {

ShellResult FromError(GError* error)
{
    ShellResult result;
    result.ok = error == nullptr;
    if (error) {
        result.noProgram = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED);
        result.error = error->message ? error->message : "";
        g_error_free(error);
    }
    return result;
}

}  // namespace

std::string UserTrashFolder()
{
    return std::string(g_get_user_data_dir()) + "/Trash";
}

std::string UserThumbnailFolder()
{
    return std::string(g_get_user_cache_dir()) + "/thumbnails";
}

ShellResult OpenWithDefaultProgram(const std::string& path)
{
    GError* error = nullptr;
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, &error);
    if (!uri)
        return FromError(error);
    g_app_info_launch_default_for_uri(uri, nullptr, &error);
    g_free(uri);
    return FromError(error);
}

}  // namespace snapsift
