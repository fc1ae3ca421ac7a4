// SPDX-License-Identifier: MIT
// A share that answers slowly: a read-only view of a folder through FUSE that
// answers every lookup, getattr, opendir and readdir after a fixed delay, as
// a NAS across a network does. Many requests are answered at once, each after
// its own delay, and the kernel caches no answer, so every run pays again.
//
//   slow_share [--delay-ms MS] SOURCE MOUNTPOINT    (default 1 ms; stays in the foreground)
//   fusermount3 -u MOUNTPOINT                         ends it
#define FUSE_USE_VERSION 35
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string g_source;
timespec g_delay{0, 1000000};

void Delay()
{
    timespec left = g_delay;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

std::string Real(const char* path)
{
    return g_source + path;  // `path` starts with '/'
}

// An open folder of the source and where its reader stands.
struct OpenFolder {
    DIR* dir = nullptr;
    dirent* entry = nullptr;  // read, not yet handed to the kernel
    off_t offset = 0;
};

OpenFolder* FolderOf(fuse_file_info* fi)
{
    return reinterpret_cast<OpenFolder*>(static_cast<uintptr_t>(fi->fh));
}

void* Init(fuse_conn_info* conn, fuse_config* cfg)
{
    conn->want &= ~FUSE_CAP_READDIRPLUS;  // a lookup per entry, as over the network
    cfg->use_ino = 1;
    cfg->entry_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->negative_timeout = 0;
    return nullptr;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*)
{
    Delay();
    return lstat(Real(path).c_str(), st) == 0 ? 0 : -errno;
}

int ReadLink(const char* path, char* buffer, size_t size)
{
    const ssize_t got = readlink(Real(path).c_str(), buffer, size - 1);
    if (got < 0)
        return -errno;
    buffer[got] = '\0';
    return 0;
}

int OpenDir(const char* path, fuse_file_info* fi)
{
    Delay();
    DIR* dir = opendir(Real(path).c_str());
    if (dir == nullptr)
        return -errno;
    fi->fh = reinterpret_cast<uintptr_t>(new OpenFolder{dir, nullptr, 0});
    return 0;
}

int ReadDir(const char*, void* buffer, fuse_fill_dir_t fill, off_t offset, fuse_file_info* fi, fuse_readdir_flags)
{
    Delay();
    OpenFolder& folder = *FolderOf(fi);
    if (offset != folder.offset) {
        seekdir(folder.dir, offset);
        folder.entry = nullptr;
        folder.offset = offset;
    }
    for (;;) {
        if (folder.entry == nullptr && (folder.entry = readdir(folder.dir)) == nullptr)
            break;
        struct stat st { };
        st.st_ino = folder.entry->d_ino;
        st.st_mode = static_cast<mode_t>(DTTOIF(folder.entry->d_type));
        const off_t next = telldir(folder.dir);
        if (fill(buffer, folder.entry->d_name, &st, next, static_cast<fuse_fill_dir_flags>(0)) != 0)
            break;  // the kernel's buffer is full; this entry comes first next time
        folder.entry = nullptr;
        folder.offset = next;
    }
    return 0;
}

int ReleaseDir(const char*, fuse_file_info* fi)
{
    OpenFolder* folder = FolderOf(fi);
    closedir(folder->dir);
    delete folder;
    return 0;
}

int Open(const char* path, fuse_file_info* fi)
{
    if ((fi->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    const int fd = open(Real(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    fi->fh = static_cast<uint64_t>(fd);
    return 0;
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* fi)
{
    const ssize_t got = pread(static_cast<int>(fi->fh), buffer, size, offset);
    return got >= 0 ? static_cast<int>(got) : -errno;
}

int Release(const char*, fuse_file_info* fi)
{
    close(static_cast<int>(fi->fh));
    return 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: slow_share [--delay-ms MS] SOURCE MOUNTPOINT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    int k = 1;
    if (k + 1 < argc && std::strcmp(argv[k], "--delay-ms") == 0) {
        char* end = nullptr;
        const double ms = std::strtod(argv[k + 1], &end);
        if (*end != '\0' || ms < 0 || ms > 10000)
            return Usage();
        const auto ns = static_cast<long long>(ms * 1e6);
        g_delay = timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        k += 2;
    }
    if (argc - k != 2)
        return Usage();
    char* source = realpath(argv[k], nullptr);
    if (source == nullptr) {
        std::perror(argv[k]);
        return 2;
    }
    g_source = std::strcmp(source, "/") == 0 ? "" : source;
    std::free(source);

    fuse_operations ops{};
    ops.init = Init;
    ops.getattr = GetAttr;
    ops.readlink = ReadLink;
    ops.opendir = OpenDir;
    ops.readdir = ReadDir;
    ops.releasedir = ReleaseDir;
    ops.open = Open;
    ops.read = Read;
    ops.release = Release;
    std::vector<char*> args = {argv[0], const_cast<char*>("-f"), const_cast<char*>("-o"),
                               const_cast<char*>("ro,fsname=slow_share,max_threads=128"), argv[k + 1]};
    return fuse_main(static_cast<int>(args.size()), args.data(), &ops, nullptr);
}
