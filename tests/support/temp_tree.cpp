// SPDX-License-Identifier: MIT
#include "support/temp_tree.h"

#include "platform/file_system.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift::testing {
namespace {

// Lists the folder open as `dirFd` (the descriptor stays open), removes every
// entry that is not a folder and returns the names of the folders.
std::vector<std::string> RemoveFilesIn(int dirFd)
{
    std::vector<std::string> names;
    const int listFd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            close(listFd);
        return names;
    }
    while (dirent* e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    }
    closedir(dir);
    std::vector<std::string> folders;
    for (std::string& name : names) {
        struct stat st { };
        if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            folders.push_back(std::move(name));
        else
            unlinkat(dirFd, name.c_str(), 0);
    }
    return folders;
}

// Empties the folder open as `dirFd` and closes it. Walks down and back up
// with one folder open at a time and no recursion, so any depth fits; the
// way up is checked against the folder it came from, and a folder met again
// below itself (a bind mount of an ancestor) is not entered.
void RemoveInside(int dirFd)
{
    struct Level {
        std::string name;  // in the level above
        dev_t device;
        ino_t inode;
        std::vector<std::string> folders;  // still to remove
    };
    std::vector<Level> levels;
    struct stat st { };
    if (fstat(dirFd, &st) != 0) {
        close(dirFd);
        return;
    }
    levels.push_back(Level{"", st.st_dev, st.st_ino, RemoveFilesIn(dirFd)});
    int fd = dirFd;
    while (fd >= 0) {
        Level& level = levels.back();
        if (!level.folders.empty()) {
            const std::string name = std::move(level.folders.back());
            level.folders.pop_back();
            fchmodat(fd, name.c_str(), 0700, 0);
            const int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0 || fstat(sub, &st) != 0) {
                if (sub >= 0)
                    close(sub);
                unlinkat(fd, name.c_str(), AT_REMOVEDIR);
                continue;
            }
            bool seen = false;
            for (const Level& above : levels)
                seen = seen || (above.device == st.st_dev && above.inode == st.st_ino);
            if (seen) {
                close(sub);
                continue;
            }
            levels.push_back(Level{name, st.st_dev, st.st_ino, RemoveFilesIn(sub)});
            close(fd);
            fd = sub;
            continue;
        }
        if (levels.size() == 1)
            break;
        const std::string name = level.name;
        levels.pop_back();
        const int up = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = -1;
        if (up < 0 || fstat(up, &st) != 0 || st.st_dev != levels.back().device || st.st_ino != levels.back().inode) {
            if (up >= 0)
                close(up);
            return;
        }
        fd = up;
        unlinkat(fd, name.c_str(), AT_REMOVEDIR);
    }
    if (fd >= 0)
        close(fd);
}

void MakeParents(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
}

}  // namespace

TempDir::TempDir(const std::string& under)
{
    std::string base = under;
    if (base.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        base = tmp && *tmp ? tmp : "/tmp";
    }
    std::string pattern = base + "/snapsift-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed under " + base);
    path_ = pattern;
}

TempDir::~TempDir()
{
    RemoveTree(path_);
}

std::string TempDir::MakeFolder(const std::string& relative) const
{
    const std::string path = *this / relative;
    MakeParents(path + "/");
    return path;
}

std::string TempDir::MakeFile(const std::string& relative, std::uint64_t size) const
{
    const std::string path = *this / relative;
    MakeParents(path);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    if (size > 0 && ftruncate(fd, static_cast<off_t>(size)) != 0) {
        close(fd);
        throw std::runtime_error("cannot size " + path);
    }
    close(fd);
    return path;
}

std::string TempDir::WriteFile(const std::string& relative, const std::string& content) const
{
    const std::string path = *this / relative;
    MakeParents(path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return path;
}

void RemoveTree(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd >= 0) {
        chmod(path.c_str(), 0700);
        RemoveInside(fd);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

bool Exists(const std::string& path)
{
    struct stat st { };
    return lstat(path.c_str(), &st) == 0;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WaitForNewerSecond(const std::string& folder)
{
    const std::string probe = folder + "/.snapsift-clock-probe";
    auto stamp = [&probe] {
        unlink(probe.c_str());
        const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            throw std::runtime_error("cannot make " + probe + ": " + std::strerror(errno));
        close(fd);
        const auto facts = StatRegularFile(probe);
        if (!facts)
            throw std::runtime_error("cannot stat " + probe);
        return facts->creationTime;
    };
    const std::int64_t first = stamp();
    while (stamp() <= first)
        usleep(20000);
    unlink(probe.c_str());
}

void SetEnv(const std::string& name, const std::string& value)
{
    setenv(name.c_str(), value.c_str(), 1);
}

MessageAnswer RecordingMessenger::Show(const MessageRequest& request)
{
    shown.push_back(request);
    if (answers.empty())
        return MessageAnswer::Ok;
    const MessageAnswer answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}

void RecordingProgress::SetRange(int lower, int upper)
{
    ops.push_back("range " + std::to_string(lower) + " " + std::to_string(upper));
}

void RecordingProgress::DeltaPos(int step)
{
    ops.push_back("delta " + std::to_string(step));
}

void RecordingProgress::SetPos(int position)
{
    ops.push_back("pos " + std::to_string(position));
}

std::string EnterPrivateMountNamespace()
{
    if (unshare(CLONE_NEWNS) != 0)
        return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("making mounts private: ") + std::strerror(errno);
    return {};
}

}  // namespace snapsift::testing
