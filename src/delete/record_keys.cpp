// SPDX-License-Identifier: MIT
#include "delete/record_keys.h"

#include "platform/user_desktop.h"

#include <glib.h>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift {
namespace {

constexpr std::size_t kRecordLimit = std::size_t{1} << 30;  // far beyond any real deletion
constexpr std::size_t kHeadingLimit = 1 << 16;

std::string Escaped(std::string_view raw)
{
    const std::string text(raw);
    gchar* escaped = g_uri_escape_string(text.c_str(), "/", FALSE);
    std::string out(escaped);
    g_free(escaped);
    return out;
}

}  // namespace

struct KeyFile::Keys {
    GKeyFile* file = g_key_file_new();
    Keys() = default;
    ~Keys() { g_key_file_free(file); }
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;
};

KeyFile::KeyFile() : keys_(std::make_unique<Keys>())
{ }

KeyFile::~KeyFile() = default;

void KeyFile::Set(const char* key, const std::string& value, const char* group)
{
    g_key_file_set_value(keys_->file, group, key, value.c_str());
}

void KeyFile::SetPath(const char* key, std::string_view path, const char* group)
{
    Set(key, Escaped(path), group);
}

void KeyFile::SetInt(const char* key, std::int64_t value, const char* group)
{
    g_key_file_set_int64(keys_->file, group, key, value);
}

void KeyFile::SetUint(const char* key, std::uint64_t value, const char* group)
{
    g_key_file_set_uint64(keys_->file, group, key, value);
}

std::optional<std::string> KeyFile::GetValue(const char* key, const char* group) const
{
    gchar* value = g_key_file_get_value(keys_->file, group, key, nullptr);
    if (!value)
        return std::nullopt;
    std::string out(value);
    g_free(value);
    return out;
}

std::optional<std::string> KeyFile::GetPath(const char* key, const char* group) const
{
    const auto value = GetValue(key, group);
    if (!value)
        return std::nullopt;
    gchar* raw = g_uri_unescape_string(value->c_str(), nullptr);
    if (!raw)
        return std::nullopt;
    std::string out(raw);
    g_free(raw);
    return out;
}

std::int64_t KeyFile::GetInt(const char* key, const char* group) const
{
    GError* error = nullptr;
    const gint64 value = g_key_file_get_int64(keys_->file, group, key, &error);
    if (error) {
        g_error_free(error);
        return 0;
    }
    return value;
}

std::uint64_t KeyFile::GetUint(const char* key, const char* group) const
{
    GError* error = nullptr;
    const guint64 value = g_key_file_get_uint64(keys_->file, group, key, &error);
    if (error) {
        g_error_free(error);
        return 0;
    }
    return value;
}

std::string KeyFile::Text() const
{
    gsize length = 0;
    gchar* data = g_key_file_to_data(keys_->file, &length, nullptr);
    std::string out(data ? data : "", data ? length : 0);
    g_free(data);
    return out;
}

bool KeyFile::LoadOwnFile(const FolderHandle& folder, const std::string& name, bool tornTail, bool headingOnly)
{
    const int fd = openat(folder.Fd(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st { };
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == getuid() && st.st_size >= 0 &&
              static_cast<std::size_t>(st.st_size) <= kRecordLimit;
    std::string text;
    if (ok) {
        const std::size_t size = static_cast<std::size_t>(st.st_size);
        text.resize(headingOnly ? std::min(size, kHeadingLimit) : size);
        ok = ReadAt(fd, text.data(), text.size(), 0);
    }
    close(fd);
    if (!ok)
        return false;
    if (headingOnly) {
        const std::size_t next = text.find("\n[", 1);
        if (next != std::string::npos)
            text.resize(next + 1);
        tornTail = true;
    }
    // A crash may cut the last group of a journal short: it is read without it.
    for (int tries = 0; tries < 3; ++tries) {
        if (g_key_file_load_from_data(keys_->file, text.data(), text.size(), G_KEY_FILE_NONE, nullptr))
            return true;
        const std::size_t last = text.rfind("\n[");
        if (!tornTail || last == std::string::npos)
            return false;
        text.resize(last + 1);
    }
    return false;
}

std::string FormatUtcTime(std::int64_t seconds, const char* pattern)
{
    const time_t t = static_cast<time_t>(seconds);
    struct tm parts { };
    if (gmtime_r(&t, &parts) == nullptr)
        return {};
    char buffer[128];
    const std::size_t n = strftime(buffer, sizeof buffer, pattern, &parts);
    return std::string(buffer, n);
}

bool IsPlainName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

std::string UserTrashFolderPath()
{
    return UserTrashFolder();
}

std::optional<FileTimes> StatTimes(const std::string& path)
{
    struct statx sx { };
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BTIME | STATX_MTIME, &sx) != 0)
        return std::nullopt;
    FileTimes times;
    if ((sx.stx_mask & STATX_BTIME) != 0)
        times.birth = sx.stx_btime.tv_sec;
    times.modification = sx.stx_mtime.tv_sec;
    return times;
}

}  // namespace snapsift
