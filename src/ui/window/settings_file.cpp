// SPDX-License-Identifier: MIT
#include "ui/window/settings_file.h"

#include "platform/file_system.h"

#include <QSettings>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift {
namespace {

bool Acceptable(const struct stat& st)
{
    return S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) <= kMaxSettingsBytes;
}

// The file opened for reading, or -1 (with errno ENOENT when there is none).
int OpenChecked(const std::string& path)
{
    struct stat before { };
    // Its kind first, so that no FIFO or device is ever opened.
    if (stat(path.c_str(), &before) != 0)
        return -1;
    if (!Acceptable(before)) {
        errno = EINVAL;
        return -1;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat after { };
    if (fstat(fd, &after) != 0 || !Acceptable(after) || after.st_dev != before.st_dev ||
        after.st_ino != before.st_ino) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

}  // namespace

std::string SettingsFilePath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = JoinPath(home != nullptr ? home : "", ".config");
    }
    return JoinPath(JoinPath(base, "snapsift"), "snapsift.conf");
}

bool SettingsFileSafe()
{
    const int fd = OpenChecked(SettingsFilePath());
    if (fd >= 0) {
        close(fd);
        return true;
    }
    return errno == ENOENT;
}

std::optional<std::string> ReadSettingsFile()
{
    const int fd = OpenChecked(SettingsFilePath());
    if (fd < 0)
        return errno == ENOENT ? std::optional<std::string>(std::string()) : std::nullopt;
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || text.size() + static_cast<std::size_t>(n) > kMaxSettingsBytes) {
            close(fd);
            if (n == 0)
                return text;
            return std::nullopt;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

std::unique_ptr<QSettings> OpenSettings()
{
    if (!SettingsFileSafe())
        return nullptr;
    return std::make_unique<QSettings>(QStringLiteral("snapsift"), QStringLiteral("snapsift"));
}

}  // namespace snapsift
