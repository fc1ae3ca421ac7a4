// SPDX-License-Identifier: MIT
#include "platform/trash_info.h"

#include <glib.h>

#include <cstdio>
#include <memory>

namespace snapsift {
namespace {

constexpr const char* kDatePattern = "%Y-%m-%dT%H:%M:%S";

struct KeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};

std::optional<std::string> KeyValue(GKeyFile* file, const char* key)
{
    gchar* value = g_key_file_get_value(file, "Trash Info", key, nullptr);
    if (!value)
        return std::nullopt;
    std::string out(value);
    g_free(value);
    return out;
}

}  // namespace

std::string DeletionDateText(std::int64_t deletionTime)
{
    return FormatLocalTime(deletionTime, kDatePattern);
}

std::string TrashInfoText(std::string_view path, std::int64_t deletionTime)
{
    const std::string raw(path);
    gchar* escaped = g_uri_escape_string(raw.c_str(), "/", FALSE);
    std::string text = "[Trash Info]\nPath=";
    text += escaped;
    g_free(escaped);
    text += "\nDeletionDate=";
    text += DeletionDateText(deletionTime);
    text += "\n";
    return text;
}

std::optional<LocalReadings> ParseDeletionDate(const std::string& text)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, consumed = -1;
    if (text.size() < 19 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &consumed) != 6 ||
        consumed != 19)
        return std::nullopt;
    if (text.size() == 19)
        return LocalTimeReadings(y, mo, d, h, mi, s);
    GTimeZone* zone = g_time_zone_new_identifier(text.c_str() + 19);
    if (!zone)
        return std::nullopt;
    GDateTime* when = g_date_time_new(zone, y, mo, d, h, mi, s);
    g_time_zone_unref(zone);
    if (!when)
        return std::nullopt;
    const std::int64_t t = g_date_time_to_unix(when);
    g_date_time_unref(when);
    return LocalReadings{t, t};
}

std::optional<TrashInfo> ReadTrashInfo(std::string_view text)
{
    std::unique_ptr<GKeyFile, KeyFileDeleter> keys(g_key_file_new());
    if (!g_key_file_load_from_data(keys.get(), text.data(), text.size(), G_KEY_FILE_NONE, nullptr))
        return std::nullopt;
    const auto escaped = KeyValue(keys.get(), "Path");
    if (!escaped)
        return std::nullopt;
    gchar* raw = g_uri_unescape_string(escaped->c_str(), nullptr);
    if (!raw)
        return std::nullopt;
    TrashInfo info;
    info.path = raw;
    g_free(raw);
    if (info.path.empty())
        return std::nullopt;
    const auto date = KeyValue(keys.get(), "DeletionDate");
    if (date)
        info.deleted = ParseDeletionDate(*date);
    return info;
}

}  // namespace snapsift
