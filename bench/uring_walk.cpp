// SPDX-License-Identifier: MIT
// The plainest walk through io_uring, as a yardstick for the report's: one
// thread reads each folder with getdents64 (io_uring has no listing call) and
// sends every subfolder's openat and every match's statx through one ring,
// relative to the open folder, with up to DEPTH requests in flight. It keeps
// no rows and orders nothing; it prints how many files matched and how many
// folders it read.
//
//   uring_walk [--depth N] FOLDER [EXT]...     (default EXT: jpg)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <liburing.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

struct LinuxDirent64 {
    std::uint64_t ino;
    std::int64_t off;
    unsigned short reclen;
    unsigned char type;
    char name[];
};

// One open folder, closed once its listing is done and no request made
// relative to it is still in flight.
struct Folder {
    int fd = -1;
    int inFlight = 0;
    bool listed = false;
};

struct Request {
    Folder* parent = nullptr;
    bool open = false;  // an openat; else a statx
    std::string name;
    struct statx facts { };
};

bool EndsWithAny(const char* name, const std::vector<std::string>& exts)
{
    const std::size_t n = std::strlen(name);
    for (const std::string& e : exts) {
        if (n <= e.size() || name[n - e.size() - 1] != '.')
            continue;
        if (strncasecmp(name + n - e.size(), e.c_str(), e.size()) == 0)
            return true;
    }
    return false;
}

class Walk {
public:
    Walk(unsigned depth, std::vector<std::string> exts) : depth_(depth), exts_(std::move(exts))
    {
        if (io_uring_queue_init(depth_, &ring_, 0) != 0) {
            std::fprintf(stderr, "uring_walk: no io_uring here\n");
            std::exit(2);
        }
    }
    ~Walk() { io_uring_queue_exit(&ring_); }
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;

    int Run(const char* top)
    {
        const int fd = open(top, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            std::perror(top);
            return 2;
        }
        Adopt(fd);
        while (!ready_.empty() || inFlight_ > 0) {
            if (ready_.empty()) {
                Reap(1);
                continue;
            }
            Folder* folder = ready_.back();
            ready_.pop_back();
            List(*folder);
        }
        std::printf("files=%llu folders=%llu\n", static_cast<unsigned long long>(files_),
                    static_cast<unsigned long long>(folders_));
        return 0;
    }

private:
    void Adopt(int fd)
    {
        store_.push_back(std::make_unique<Folder>());
        store_.back()->fd = fd;
        ready_.push_back(store_.back().get());
        ++folders_;
    }

    void List(Folder& folder)
    {
        std::vector<char> buffer(std::size_t{64} * 1024);
        for (;;) {
            const long got = syscall(SYS_getdents64, folder.fd, buffer.data(), buffer.size());
            if (got <= 0)
                break;
            for (long at = 0; at < got;) {
                const auto* d = reinterpret_cast<const LinuxDirent64*>(buffer.data() + at);
                at += d->reclen;
                if (std::strcmp(d->name, ".") == 0 || std::strcmp(d->name, "..") == 0)
                    continue;
                if (d->type == DT_DIR)
                    Send(folder, d->name, true);
                else if ((d->type == DT_REG || d->type == DT_UNKNOWN) && EndsWithAny(d->name, exts_))
                    Send(folder, d->name, false);
            }
        }
        folder.listed = true;
        CloseIfDone(folder);
    }

    void Send(Folder& parent, const char* name, bool open)
    {
        while (inFlight_ >= depth_)
            Reap(1);
        auto* request = new Request{&parent, open, name, {}};
        io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
        if (sqe == nullptr) {
            io_uring_submit(&ring_);
            sqe = io_uring_get_sqe(&ring_);
        }
        if (open)
            io_uring_prep_openat(sqe, parent.fd, request->name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC,
                                 0);
        else
            io_uring_prep_statx(sqe, parent.fd, request->name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                                STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_BTIME, &request->facts);
        io_uring_sqe_set_data(sqe, request);
        ++parent.inFlight;
        ++inFlight_;
        ++unsent_;
        if (unsent_ >= depth_ / 2) {
            io_uring_submit(&ring_);
            unsent_ = 0;
        }
    }

    // Waits for at least `least` answers and takes every one that is there.
    void Reap(unsigned least)
    {
        io_uring_submit_and_wait(&ring_, least);
        unsent_ = 0;
        io_uring_cqe* cqe = nullptr;
        unsigned head = 0;
        unsigned seen = 0;
        io_uring_for_each_cqe(&ring_, head, cqe)
        {
            ++seen;
            std::unique_ptr<Request> request(static_cast<Request*>(io_uring_cqe_get_data(cqe)));
            if (request->open && cqe->res >= 0)
                Adopt(cqe->res);
            else if (!request->open && cqe->res == 0 && S_ISREG(request->facts.stx_mode))
                ++files_;
            --inFlight_;
            --request->parent->inFlight;
            CloseIfDone(*request->parent);
        }
        io_uring_cq_advance(&ring_, seen);
    }

    static void CloseIfDone(Folder& folder)
    {
        if (folder.listed && folder.inFlight == 0 && folder.fd >= 0) {
            close(folder.fd);
            folder.fd = -1;
        }
    }

    io_uring ring_{};
    unsigned depth_;
    std::vector<std::string> exts_;
    std::vector<std::unique_ptr<Folder>> store_;
    // Folders opened and not yet read, taken newest first so that few are
    // open at once.
    std::vector<Folder*> ready_;
    unsigned inFlight_ = 0;
    unsigned unsent_ = 0;
    std::uint64_t files_ = 0;
    std::uint64_t folders_ = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    unsigned depth = 64;
    int at = 1;
    if (argc > 2 && std::strcmp(argv[1], "--depth") == 0) {
        depth = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
        at = 3;
    }
    if (at >= argc || depth == 0 || depth > 4096) {
        std::fprintf(stderr, "usage: uring_walk [--depth N] FOLDER [EXT]...\n");
        return 2;
    }
    const char* top = argv[at++];
    std::vector<std::string> exts;
    for (; at < argc; ++at)
        exts.emplace_back(argv[at]);
    if (exts.empty())
        exts.emplace_back("jpg");
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    Walk walk(depth, std::move(exts));
    return walk.Run(top);
}
