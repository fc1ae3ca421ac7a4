// SPDX-License-Identifier: MIT
#include "hostile_trees.h"

#include "platform/file_system.h"
#include "scan/file_table.h"
#include "support/table_rows.h"
#include "support/temp_tree.h"
#include "ui/window_texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>

namespace snapsift::testing {
namespace {

std::string g_mountRefusal = "the mount namespace was not set up";

std::string Join(const std::vector<std::string>& parts, std::size_t count)
{
    std::string path;
    for (std::size_t i = 0; i < count && i < parts.size(); ++i) {
        if (i != 0)
            path += '/';
        path += parts[i];
    }
    return path;
}

void Check(bool ok, const std::string& what)
{
    if (!ok)
        throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Opens the folder `relative` below `base`, making what is missing.
int MakeFoldersAt(const std::string& base, const std::vector<std::string>& parts, std::size_t count)
{
    int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Check(fd >= 0, "open " + base);
    for (std::size_t i = 0; i < count; ++i) {
        if (mkdirat(fd, parts[i].c_str(), 0755) != 0 && errno != EEXIST)
            Check(false, "mkdirat " + parts[i].substr(0, 40));
        const int sub = openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(fd);
        Check(sub >= 0, "openat " + parts[i].substr(0, 40));
        fd = sub;
    }
    return fd;
}

std::vector<std::string> Split(const std::string& relative)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = relative.find('/', start);
        parts.push_back(relative.substr(start, slash - start));
        if (slash == std::string::npos)
            return parts;
        start = slash + 1;
    }
}

void Symlink(const std::string& target, const std::string& at)
{
    Check(symlink(target.c_str(), at.c_str()) == 0, "symlink " + at);
}

void SetModificationTime(const std::string& path, std::int64_t seconds)
{
    const struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    Check(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0, "utimensat " + path);
}

std::int64_t Utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    struct tm parts { };
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return timegm(&parts);
}

std::string Note(const std::string& text)
{
    std::printf("[   NOTE   ] %s\n", text.c_str());
    return text;
}

// --- The trees ------------------------------------------------------------

// Links of every kind: none of them is followed, a hard link is a file.
void BuildLinks(HostileTree& t)
{
    MakeFileAt(t.root, "a.jpg", 10);
    t.waitForNewerSecond(t.root);
    MakeFileAt(t.root, "sub/a.jpg", 10);
    MakeFileAt(t.root, "hard/keep.txt", 0);
    Check(link((t.root + "/sub/a.jpg").c_str(), (t.root + "/hard/a.jpg").c_str()) == 0, "link");
    MakeFileAt(t.outside, "x.jpg", 10);
    MakeFileAt(t.outside, "a.jpg", 10);
    MakeFileAt(t.outside, "deeper/a.jpg", 10);
    Symlink(".", t.root + "/loop");
    Symlink("..", t.root + "/sub/up");
    Symlink("../sub", t.root + "/sub/again");
    Symlink("ring2", t.root + "/ring1.jpg");
    Symlink("ring1.jpg", t.root + "/ring2");
    Symlink(t.outside, t.root + "/out");
    Symlink(t.outside + "/a.jpg", t.root + "/sub/outfile.jpg");
    Symlink("missing.jpg", t.root + "/broken.jpg");
    Symlink("missing", t.root + "/brokendir");
    t.rows = {"a.jpg", "hard/a.jpg", "sub/a.jpg"};
    t.autoSelected = {"a.jpg"};
    t.alsoDeleted = {"hard/a.jpg"};
}

// One folder reached a second time through a bind mount, and the searched
// folder mounted inside itself.
void BuildBindMounts(HostileTree& t)
{
    if (!MountRefusal().empty()) {
        t.skip = "cannot mount here: " + MountRefusal();
        return;
    }
    MakeFileAt(t.root, "pic.jpg", 5);
    MakeFileAt(t.root, "a/x.jpg", 3);
    t.waitForNewerSecond(t.root);
    MakeFileAt(t.root, "a/pic.jpg", 5);
    for (const char* name : {"b", "c"})
        Check(mkdir((t.root + "/" + name).c_str(), 0755) == 0, "mkdir");
    if (mount((t.root + "/a").c_str(), (t.root + "/b").c_str(), nullptr, MS_BIND, nullptr) != 0) {
        t.skip = std::string("mount --bind refused: ") + std::strerror(errno);
        return;
    }
    t.mounts.push_back(t.root + "/b");
    Check(mount(t.root.c_str(), (t.root + "/c").c_str(), nullptr, MS_BIND, nullptr) == 0, "bind the root");
    t.mounts.push_back(t.root + "/c");
    t.rows = {"a/pic.jpg", "a/x.jpg", "pic.jpg"};
    t.autoSelected = {"pic.jpg"};
    t.alsoDeleted = {"a/x.jpg"};
}

// FIFOs, a socket and device nodes named like pictures, a folder named like
// one: none is a found file, none is ever opened.
void BuildSpecialFiles(HostileTree& t)
{
    MakeFileAt(t.root, "pic.jpg", 4);
    t.waitForNewerSecond(t.root);
    MakeFileAt(t.root, "dir.jpg/pic.jpg", 4);
    Check(mkfifo((t.root + "/fifo.jpg").c_str(), 0644) == 0, "mkfifo");
    Check(mkfifo((t.root + "/dir.jpg/fifo.bmp").c_str(), 0644) == 0, "mkfifo");
    Symlink("fifo.jpg", t.root + "/to-fifo.jpg");
    const std::string socketPath = t.root + "/socket.jpg";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() < sizeof address.sun_path) {
        std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        Check(fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind socket");
        close(fd);
    }
    const struct {
        const char* name;
        mode_t type;
        dev_t device;
    } nodes[] = {{"null.jpg", S_IFCHR, makedev(1, 3)},
                 {"zero.jpg", S_IFCHR, makedev(1, 5)},
                 {"loop.jpg", S_IFBLK, makedev(7, 0)}};
    for (const auto& node : nodes) {
        if (mknod((t.root + "/" + node.name).c_str(), node.type | 0644, node.device) != 0)
            Note(std::string("no device node ") + node.name + ": " + std::strerror(errno));
    }
    t.rows = {"dir.jpg/pic.jpg", "pic.jpg"};
    t.autoSelected = {"pic.jpg"};
}

// Names that are not UTF-8 or carry control bytes, and the longest name.
void BuildOddNames(HostileTree& t)
{
    const std::string sjis = "\x83\x65\x83\x58\x83\x67.jpg";  // "テスト.jpg" in Shift-JIS
    const std::string sjisFolder = "\x8e\xca\x90\x5e";        // "写真"
    MakeFileAt(t.root, sjis, 6);
    t.waitForNewerSecond(t.root);
    MakeFileAt(t.root, sjisFolder + "/" + sjis, 6);
    const std::vector<std::string> odd = {"new\nline.jpg",     "cr\rret.jpg",
                                          "tab\there.jpg",     "100%.jpg",
                                          "lit%0Aeral.jpg",    "back\\slash.jpg",
                                          "\xff\xfe.jpg",      std::string(251, 'n') + ".jpg",
                                          "nl\nfolder/in.jpg", sjisFolder + "/\x82\xa0\x82\xa2.JPG"};
    // GIO keeps a "NAME.trashinfo" beside each trashed file; a name too long
    // for that cannot go to the trash and must stay, named to the user.
    t.mayStay = {std::string(251, 'n') + ".jpg"};
    for (const std::string& name : odd)
        MakeFileAt(t.root, name, 1);
    t.rows = odd;
    t.rows.push_back(sjis);
    t.rows.push_back(sjisFolder + "/" + sjis);
    t.autoSelected = {sjis};
    t.alsoDeleted = odd;
}

// Paths longer than the kernel takes in one call.
void BuildLongPaths(HostileTree& t)
{
    std::vector<std::string> parts;
    for (int level = 0; level < 18; ++level)
        parts.push_back(std::string(250, 'L') + std::to_string(10 + level));
    const std::string shallow = Join(parts, 5) + "/x.jpg";
    const std::string deep = Join(parts, parts.size()) + "/x.jpg";
    MakeFileAt(t.root, shallow, 7);
    t.waitForNewerSecond(t.root);
    MakeFileAt(t.root, deep, 7);
    MakeFileAt(t.root, Join(parts, parts.size()) + "/" + std::string(251, 'z') + ".jpg", 8);
    t.rows = {shallow, deep, Join(parts, parts.size()) + "/" + std::string(251, 'z') + ".jpg"};
    t.autoSelected = {shallow};
    t.alsoDeleted = {deep};
    t.mayStay = {deep};
}

// Ten thousand folders, one inside the other. The top copy is older than the
// bottom one; the middle copy has a size of its own, so its creation second,
// which may or may not be the bottom one's, never decides anything.
void BuildDeepNesting(HostileTree& t)
{
    const std::vector<std::string> parts(10000, "d");
    const std::string top = Join(parts, 1) + "/x.jpg";
    const std::string middle = Join(parts, 5000) + "/x.jpg";
    const std::string bottom = Join(parts, parts.size()) + "/x.jpg";
    MakeFileAt(t.root, top, 1);
    t.waitForNewerSecond(t.root);
    MakeFileAt(t.root, bottom, 1);
    MakeFileAt(t.root, middle, 2);
    t.rows = {top, middle, bottom};
    t.autoSelected = {top};
    t.alsoDeleted = {bottom};
    t.mayStay = {bottom};
}

// One folder of 100,000 entries. Most are hard links to a few files outside
// (a name costs a fraction of what a new file costs to make); each name is a
// file of its own to the search all the same.
void BuildWideFolder(HostileTree& t)
{
    const int fd = open(t.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Check(fd >= 0, "open root");
    char name[32];
    for (int i = 0; i < 99999; ++i) {
        const std::string base = t.outside + "/base" + std::to_string(i / 50000);
        if (i % 50000 == 0)
            MakeFileAt(t.outside, base.substr(t.outside.size() + 1), 0);
        std::snprintf(name, sizeof name, "p%05d.jpg", i);
        Check(linkat(AT_FDCWD, base.c_str(), fd, name, 0) == 0, name);
        t.rows.emplace_back(name);
    }
    close(fd);
    t.waitForNewerSecond(t.root);
    MakeFileAt(t.root, "sub/p00000.jpg", 0);
    t.rows.emplace_back("sub/p00000.jpg");
    t.autoSelected = {"p00000.jpg"};
    t.alsoDeleted = {"p50000.jpg"};
}

// Sparse files of 5 GiB.
void BuildSparseFiles(HostileTree& t)
{
    constexpr std::uint64_t kSize = 5ull << 30;
    try {
        MakeFileAt(t.root, "big.jpg", kSize);
    } catch (const std::exception& e) {
        t.skip = std::string("no 5 GiB sparse file here: ") + e.what();
        return;
    }
    t.waitForNewerSecond(t.root);
    MakeFileAt(t.root, "copy/big.jpg", kSize);
    t.rows = {"big.jpg", "copy/big.jpg"};
    t.sizeTexts = {{"big.jpg", "5368709120byte"}, {"copy/big.jpg", "5368709120byte"}};
    t.autoSelected = {"big.jpg"};
}

// Folders that cannot be listed or searched, and a file that cannot be read.
void BuildUnreadable(HostileTree& t)
{
    t.unreadable = t.root + "/locked";
    MakeFileAt(t.root, "pic.jpg", 2);
    t.waitForNewerSecond(t.root);
    MakeFileAt(t.root, "open/pic.jpg", 2);
    const struct {
        const char* file;
        const char* folder;
        mode_t mode;
    } locked[] = {{"locked/x.jpg", "locked", 0},
                  {"listonly/y.jpg", "listonly", 0444},
                  {"searchonly/z.jpg", "searchonly", 0111},
                  {"locked2/deeper/w.jpg", "locked2", 0}};
    for (const auto& l : locked) {
        MakeFileAt(t.root, l.file, 2);
        Check(chmod((t.root + "/" + l.folder).c_str(), l.mode) == 0, "chmod");
    }
    MakeFileAt(t.root, "sealed.jpg", 2);
    Check(chmod((t.root + "/sealed.jpg").c_str(), 0) == 0, "chmod");
    t.rows = {"open/pic.jpg", "pic.jpg", "sealed.jpg"};
    t.autoSelected = {"pic.jpg"};
    t.alsoDeleted = {"sealed.jpg"};
}

// Modification times far before 1970 and after 2038, on a file system that
// keeps no birth time (ramfs), where the modification time stands in for it.
void BuildFarTimes(HostileTree& t)
{
    if (!MountRefusal().empty()) {
        t.skip = "cannot mount a file system without birth times: " + MountRefusal();
        return;
    }
    const std::string ram = t.root + "/ram";
    Check(mkdir(ram.c_str(), 0755) == 0, "mkdir");
    if (mount("ramfs", ram.c_str(), "ramfs", 0, "mode=0755") != 0) {
        t.skip = std::string("mounting ramfs refused: ") + std::strerror(errno);
        return;
    }
    t.mounts.push_back(ram);
    MakeFileAt(ram, "probe", 0);
    struct statx sx { };
    Check(statx(AT_FDCWD, (ram + "/probe").c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) == 0, "statx");
    unlink((ram + "/probe").c_str());
    if (sx.stx_mask & STATX_BTIME) {
        t.skip = "this kernel's ramfs keeps birth times, so modification times cannot stand in";
        return;
    }
    const struct {
        const char* path;
        std::int64_t time;
        const char* dateText;  // in Asia/Tokyo; null: not checked
    } files[] = {
        {"t1969.jpg", -1, "1970年01月01日 08:59:59"},
        {"sub/t1969.jpg", 2147483648, "2038年01月19日 12:14:08"},
        {"t1900.jpg", -2208988800, "1900年01月01日 09:00:00"},
        {"sub/t1900.jpg", 4102444800, "2100年01月01日 09:00:00"},
        {"y500.jpg", Utc(500, 1, 1), nullptr},
        {"sub/y500.jpg", Utc(1999, 7, 15, 12), nullptr},
        {"y12000.jpg", Utc(12000, 1, 1), nullptr},
        {"sub/y12000.jpg", Utc(2000, 1, 1), nullptr},
    };
    for (const auto& f : files) {
        MakeFileAt(ram, f.path, 9);
        SetModificationTime(ram + "/" + f.path, f.time);
        t.rows.push_back(std::string("ram/") + f.path);
        if (f.dateText)
            t.dateTexts[t.rows.back()] = f.dateText;
    }
    t.autoSelected = {"ram/t1969.jpg", "ram/t1900.jpg", "ram/y500.jpg", "ram/sub/y12000.jpg"};
    t.trashes.push_back(ram + "/.Trash-" + std::to_string(getuid()) + "/files");
}

// A disk of its own (ramfs: GIO refuses to trash on tmpfs) with the trash
// folders the freedesktop.org trash specification puts at its top, each
// holding a newer copy of a live file: none of them is searched. Names like
// theirs elsewhere are plain folders. The deletion goes to the disk's trash.
void BuildTrashFolders(HostileTree& t)
{
    if (!MountRefusal().empty()) {
        t.skip = "cannot mount: " + MountRefusal();
        return;
    }
    if (mount("ramfs", t.root.c_str(), "ramfs", 0, "mode=0700") != 0) {
        t.skip = std::string("mounting ramfs refused: ") + std::strerror(errno);
        return;
    }
    t.mounts.push_back(t.root);
    MakeFileAt(t.root, "a.jpg", 3);
    MakeFileAt(t.root, "b.jpg", 4);
    t.waitForNewerSecond(t.root);
    const std::string uid = std::to_string(getuid());
    for (const std::string& trash :
         {".Trash-" + uid + "/files", std::string(".Trash-4242/files"), ".Trash/" + uid + "/files"})
        MakeFileAt(t.root, trash + "/a.jpg", 3);
    Check(chmod((t.root + "/.Trash-" + uid).c_str(), 0700) == 0, "chmod");
    Check(chmod((t.root + "/.Trash").c_str(), 01777) == 0, "chmod");
    MakeFileAt(t.root, "sub/b.jpg", 4);
    MakeFileAt(t.root, "sub/.Trash-" + uid + "/files/c.jpg", 5);
    MakeFileAt(t.root, ".Trash-x/c.jpg", 6);
    t.rows = {"a.jpg", "b.jpg", "sub/b.jpg", "sub/.Trash-" + uid + "/files/c.jpg", ".Trash-x/c.jpg"};
    t.autoSelected = {"b.jpg"};
    // GIO takes the shared ".Trash/UID" where there is one, else ".Trash-UID".
    t.trashes = {t.root + "/.Trash/" + uid + "/files", t.root + "/.Trash-" + uid + "/files"};
}

// Other users' homes searched from above, each trash holding a newer copy of
// a live picture: no ".local/share/Trash" is searched, so the live copies are
// not picked. Folders named like a trash elsewhere are plain folders.
void BuildOtherHomes(HostileTree& t)
{
    for (const char* live :
         {"homes/taro/Pictures/p.jpg", "homes/taro/Pictures/v.jpg", "homes/hanako/q.jpg",
          "homes/jiro/share/Trash/r.jpg", "homes/jiro/.local/Trash/s.jpg", "homes/jiro/local/share/Trash/u.jpg"})
        MakeFileAt(t.root, live, 5);
    t.waitForNewerSecond(t.root);
    for (const char* trashed :
         {"homes/taro/.local/share/Trash/files/p.jpg", "homes/taro/.local/share/Trash/files/v.jpg",
          "homes/taro/.local/share/Trash/files/deep/er/p.jpg", "homes/hanako/.local/share/Trash/files/q.jpg",
          "homes/hanako/.local/share/Trash/expunged/q.jpg"})
        MakeFileAt(t.root, trashed, 5);
    MakeFileAt(t.root, "homes/jiro/.local/share/Trash-old/p.jpg", 5);
    MakeFileAt(t.root, "homes/jiro/.local/share/trash/q.jpg", 5);
    t.rows = {"homes/taro/Pictures/p.jpg",
              "homes/taro/Pictures/v.jpg",
              "homes/hanako/q.jpg",
              "homes/jiro/share/Trash/r.jpg",
              "homes/jiro/.local/Trash/s.jpg",
              "homes/jiro/local/share/Trash/u.jpg",
              "homes/jiro/.local/share/Trash-old/p.jpg",
              "homes/jiro/.local/share/trash/q.jpg"};
    t.autoSelected = {"homes/taro/Pictures/p.jpg", "homes/hanako/q.jpg"};
}

}  // namespace

// --- Process set-up -------------------------------------------------------

const IsolatedHome& SetUpIsolatedHome()
{
    static TempDir base;
    static const IsolatedHome home = [] {
        IsolatedHome h;
        char* resolved = realpath(base.Path().c_str(), nullptr);
        const std::string top = resolved ? resolved : base.Path();
        std::free(resolved);
        base.MakeFolder("users/taro/.local/share");
        h.home = top + "/users/taro";
        h.homeLink = top + "/home";
        Symlink("users/taro", h.homeLink);
        h.dataHome = h.home + "/.local/share";
        base.MakeFolder("users/Shared");
        h.desktop = top + "/users/Shared";
        h.textDesktop = h.homeLink + "/../Shared";
        base.MakeFolder("Shared");
        h.decoyDesktop = top + "/Shared";
        h.trashFiles = h.dataHome + "/Trash/files";
        base.WriteFile("config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/../Shared\"\n");
        SetEnv("HOME", h.homeLink);
        SetEnv("XDG_DATA_HOME", h.dataHome);
        SetEnv("XDG_CONFIG_HOME", base / "config");
        h.stateHome = top + "/state";
        SetEnv("XDG_STATE_HOME", h.stateHome);
        h.cacheHome = h.homeLink + "/var/cache";  // not where its name alone would give it away
        SetEnv("XDG_CACHE_HOME", h.cacheHome);
        const std::string runtime = base.MakeFolder("runtime");
        chmod(runtime.c_str(), 0700);
        SetEnv("XDG_RUNTIME_DIR", runtime);
        return h;
    }();
    return home;
}

const std::string& MountRefusal()
{
    return g_mountRefusal;
}

Watchdog::Watchdog(std::string what, int seconds)
    : thread_([this, what = std::move(what), seconds] {
        std::unique_lock lock(mutex_);
        if (!done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return finished_; })) {
            std::fprintf(stderr, "hung for %d s: %s\n", seconds, what.c_str());
            std::fflush(stderr);
            std::_Exit(3);
        }
    })
{ }

Watchdog::~Watchdog()
{
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    done_.notify_all();
    thread_.join();
}

WithoutPermissionOverride::WithoutPermissionOverride()
{
    if (geteuid() != 0)
        return;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return;
    std::memcpy(saved_, data, sizeof data);
    data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
    dropped_ = syscall(SYS_capset, &header, data) == 0;
}

WithoutPermissionOverride::~WithoutPermissionOverride()
{
    if (!dropped_)
        return;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    std::memcpy(data, saved_, sizeof data);
    syscall(SYS_capset, &header, data);
}

bool CanReadFolder(const std::string& path)
{
    return faccessat(AT_FDCWD, path.c_str(), R_OK | X_OK, AT_EACCESS) == 0;
}

std::string WhyTreeCannotRun(const HostileTree& tree, std::optional<WithoutPermissionOverride>& asUser)
{
    if (!tree.skip.empty())
        return tree.skip;
    if (tree.unreadable.empty())
        return "";
    asUser.emplace();
    return CanReadFolder(tree.unreadable) ? "file permissions do not bind this user, even without its capabilities"
                                          : "";
}

// --- Trees ----------------------------------------------------------------

const std::vector<HostileCase>& HostileCases()
{
    static const std::vector<HostileCase> cases = {
        {"links", &BuildLinks},
        {"bind_mounts", &BuildBindMounts},
        {"special_files", &BuildSpecialFiles},
        {"odd_names", &BuildOddNames},
        {"long_paths", &BuildLongPaths},
        {"deep_nesting", &BuildDeepNesting},
        {"wide_folder", &BuildWideFolder},
        {"sparse_files", &BuildSparseFiles},
        {"unreadable", &BuildUnreadable},
        {"far_times", &BuildFarTimes},
        {"trash_folders", &BuildTrashFolders},
        {"other_homes", &BuildOtherHomes},
    };
    return cases;
}

BuiltTree::BuiltTree(const HostileCase& hostile, const std::string& parent,
                     std::function<void(const std::string& folder)> waitForNewerSecond)
{
    tree.waitForNewerSecond = std::move(waitForNewerSecond);
    const char* tmp = std::getenv("TMPDIR");
    outsideBase_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/snapsift-outside-XXXXXX";
    Check(mkdtemp(outsideBase_.data()) != nullptr, "mkdtemp");
    tree.outside = outsideBase_;
    tree.root = parent + "/" + hostile.name;
    Check(mkdir(tree.root.c_str(), 0700) == 0, "mkdir " + tree.root);
    hostile.build(tree);
    if (!tree.skip.empty())
        Note(std::string(hostile.name) + " skipped: " + tree.skip);
}

BuiltTree::~BuiltTree()
{
    for (auto it = tree.mounts.rbegin(); it != tree.mounts.rend(); ++it)
        umount2(it->c_str(), MNT_DETACH);
    RemoveTree(tree.root);
    RemoveTree(outsideBase_);
}

namespace {

// A wait for a newer second that many builder threads share: the last of them
// to arrive (or to end while the others wait) waits for the clock, and all go on.
class SharedSecond final {
public:
    explicit SharedSecond(int builders) : active_(builders) { }

    void Wait(const std::string& folder)
    {
        std::unique_lock lock(mutex_);
        ++waiting_;
        folder_ = folder;
        const int generation = generation_;
        if (waiting_ == active_)
            Release();
        else
            moved_.wait(lock, [&] { return generation_ != generation; });
        if (!failure_.empty())
            throw std::runtime_error(failure_);
    }
    void Leave()
    {
        const std::lock_guard lock(mutex_);
        --active_;
        if (waiting_ > 0 && waiting_ == active_)
            Release();
    }

private:
    // With the lock held; every other builder is waiting, so `folder_` stays.
    void Release()
    {
        try {
            WaitForNewerSecond(folder_);
        } catch (const std::exception& e) {
            failure_ = e.what();
        }
        waiting_ = 0;
        ++generation_;
        moved_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable moved_;
    int active_;
    int waiting_ = 0;
    int generation_ = 0;
    std::string folder_;
    std::string failure_;
};

}  // namespace

BuiltTrees::BuiltTrees(const std::vector<HostileCase>& cases, const std::string& parent)
{
    SharedSecond second(static_cast<int>(cases.size()));
    std::vector<std::unique_ptr<BuiltTree>> built(cases.size());
    std::vector<std::string> failures(cases.size());
    std::vector<std::thread> builders;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        builders.emplace_back([&, i] {
            try {
                built[i] = std::make_unique<BuiltTree>(cases[i], parent,
                                                       [&second](const std::string& folder) { second.Wait(folder); });
            } catch (const std::exception& e) {
                failures[i] = e.what();
            }
            second.Leave();
        });
    }
    for (std::thread& builder : builders)
        builder.join();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (built[i])
            trees_[cases[i].name] = std::move(built[i]);
        else
            failures_[cases[i].name] = failures[i];
    }
}

std::unique_ptr<BuiltTree> BuiltTrees::Take(const std::string& name)
{
    const auto failed = failures_.find(name);
    if (failed != failures_.end())
        throw std::runtime_error("building " + name + ": " + failed->second);
    const auto found = trees_.find(name);
    if (found == trees_.end() || !found->second)
        throw std::runtime_error("the tree " + name + " was not built");
    std::unique_ptr<BuiltTree> tree = std::move(found->second);
    trees_.erase(found);
    return tree;
}

bool SuiteRunsWith(const std::string& param)
{
    const ::testing::TestSuite* suite = ::testing::UnitTest::GetInstance()->current_test_suite();
    if (suite == nullptr)
        return true;
    for (int i = 0; i < suite->total_test_count(); ++i) {
        const ::testing::TestInfo* info = suite->GetTestInfo(i);
        if (info->should_run() && info->value_param() != nullptr && param == info->value_param())
            return true;
    }
    return false;
}

std::vector<HostileCase> CasesToRun()
{
    std::vector<HostileCase> cases;
    for (const HostileCase& c : HostileCases()) {
        if (SuiteRunsWith(c.name))
            cases.push_back(c);
    }
    return cases;
}

void MakeFileAt(const std::string& base, const std::string& relative, std::uint64_t size)
{
    const std::vector<std::string> parts = Split(relative);
    const int folder = MakeFoldersAt(base, parts, parts.size() - 1);
    const int fd = openat(folder, parts.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    close(folder);
    Check(fd >= 0, "create " + parts.back().substr(0, 40));
    const bool sized = size == 0 || ftruncate(fd, static_cast<off_t>(size)) == 0;
    close(fd);
    Check(sized, "size " + parts.back().substr(0, 40));
}

std::string ReadLog(const std::string& path)
{
    struct stat st { };
    if (lstat(path.c_str(), &st) != 0)
        return "";
    if (!S_ISREG(st.st_mode))
        return "<not a plain file, mode " + std::to_string(st.st_mode) + ">";
    return ReadFile(path);
}

void WriteAppend(const std::string& path, const std::string& content)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    Check(fd >= 0, "open " + path);
    const bool written = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    close(fd);
    Check(written, "write " + path);
}

std::optional<FileId> IdOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::nullopt;
    const FolderHandle folder = OpenFolder(slash == 0 ? std::string("/") : path.substr(0, slash));
    struct stat st { };
    if (!folder.IsOpen() || fstatat(folder.Fd(), path.c_str() + slash + 1, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

std::vector<std::string> Sorted(std::vector<std::string> paths)
{
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::vector<std::string> Absolute(const std::string& root, const std::vector<std::string>& relative)
{
    std::vector<std::string> paths;
    for (const std::string& r : relative)
        paths.push_back(root + "/" + r);
    return paths;
}

std::vector<std::string> RelativeRows(const FileTable& table, const std::string& root)
{
    std::vector<std::string> rows;
    rows.reserve(static_cast<std::size_t>(table.RowCount()));
    const std::string prefix = root + "/";
    for (const std::string& path : TablePaths(table))
        rows.push_back(path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path);
    return Sorted(std::move(rows));
}

std::string LogLine(const std::string& path)
{
    std::string line;
    for (char c : path) {
        if (c == '%')
            line += "%25";
        else if (c == '\r')
            line += "%0D";
        else if (c == '\n')
            line += "%0A";
        else
            line += c;
    }
    return line;
}

std::vector<std::string> AppendedLogPaths(const std::string& before, const std::string& after)
{
    if (after.size() <= before.size() || after.compare(0, before.size(), before) != 0)
        return {};
    std::vector<std::string> lines;
    const std::string block = after.substr(before.size());
    std::size_t start = 0;
    while (start < block.size()) {
        const std::size_t end = block.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(block.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(block.substr(start, end - start));
        start = end + 2;
    }
    if (lines.size() < 2)
        return {"<short block>"};
    return std::vector<std::string>(lines.begin() + 2, lines.end());
}

bool InTrash(const FileId& id, const std::vector<std::string>& trashFolders)
{
    for (const std::string& folder : trashFolders) {
        DIR* dir = opendir(folder.c_str());
        if (!dir)
            continue;
        bool found = false;
        while (dirent* e = readdir(dir)) {
            struct stat st { };
            if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == id.device &&
                st.st_ino == id.inode && !S_ISDIR(st.st_mode))
                found = true;
        }
        closedir(dir);
        if (found)
            return true;
    }
    return false;
}

DeletionCheck::DeletionCheck(const HostileTree& tree, const FileTable& table, std::vector<std::string> selectedPaths,
                             std::string logPath, std::vector<std::string> mayStay)
    : trashes_(tree.trashes)
    , selected_(std::move(selectedPaths))
    , mayStay_(std::move(mayStay))
    , logPath_(std::move(logPath))
{
    trashes_.push_back(SetUpIsolatedHome().trashFiles);
    for (const std::string& path : TablePaths(table)) {
        if (const auto id = IdOf(path))
            before_[path] = *id;
        else
            ADD_FAILURE() << "a row's file is not there before the deletion: " << path.substr(0, 200);
    }
    logBefore_ = ReadLog(logPath_);
}

void DeletionCheck::Verify(const FileTable& table, const std::vector<MessageRequest>& shown) const
{
    // The block names every selected file that moved, and no other.
    std::vector<std::string> expectedLog;
    for (const std::string& path : selected_) {
        const auto it = before_.find(path);
        const auto now = IdOf(path);
        if (it == before_.end() || !now || !(*now == it->second))
            expectedLog.push_back(LogLine(path));
    }
    if (expectedLog.empty())
        EXPECT_EQ(ReadLog(logPath_), logBefore_) << "a deletion that moved nothing writes no block";
    else
        EXPECT_EQ(AppendedLogPaths(logBefore_, ReadLog(logPath_)), expectedLog) << "the log names the moved paths";

    const std::vector<std::string> paths = TablePaths(table);
    const std::unordered_multiset<std::string> rows(paths.begin(), paths.end());
    const std::unordered_set<std::string> selected(selected_.begin(), selected_.end());
    std::vector<std::string> stayed;
    for (const auto& [path, id] : before_) {
        const std::string shortPath = path.substr(0, 300);
        const auto now = IdOf(path);
        if (!selected.count(path)) {
            EXPECT_TRUE(now && *now == id) << "a file that was not selected changed: " << shortPath;
            EXPECT_EQ(rows.count(path), 1u) << "its row went: " << shortPath;
            continue;
        }
        if (now && *now == id) {
            stayed.push_back(path);
            Note("stayed where it was (" + std::to_string(path.size()) + "-byte path): ..." +
                 path.substr(path.size() - std::min<std::size_t>(path.size(), 40)));
            EXPECT_TRUE(std::find(mayStay_.begin(), mayStay_.end(), path) != mayStay_.end())
                << "a selected file was not moved: " << shortPath;
            EXPECT_EQ(rows.count(path), 1u) << "the row of a file that stayed went: " << shortPath;
        } else {
            EXPECT_TRUE(InTrash(id, trashes_)) << "a selected file is neither in place nor in the trash: " << shortPath;
            EXPECT_EQ(rows.count(path), 0u) << "the row of a moved file stayed: " << shortPath;
        }
    }
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown[0].buttons, MessageButtons::OkCancel);
    if (stayed.empty()) {
        EXPECT_EQ(shown.size(), 1u) << (shown.size() > 1 ? shown[1].text.substr(0, 300) : "");
        return;
    }
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].text.rfind(kNotMovedText, 0), 0u) << shown[1].text.substr(0, 300);
    for (const std::string& path : stayed)
        EXPECT_NE(shown[1].text.find(path), std::string::npos) << "not named: " << path.substr(0, 300);
}

ProgramRun RunProgram(const std::vector<std::string>& argv, int seconds, bool withoutPermissionOverride)
{
    ProgramRun run;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (withoutPermissionOverride && geteuid() == 0) {
            // An executed program regains what the bounding set allows.
            for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
                prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
        }
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            run.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0)
                continue;
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& p : fds) {
        if (p.fd >= 0)
            close(p.fd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

void SetUpHostileProcess()
{
    // The far-times cases spell their expected date texts in Japan's time.
    SetEnv("TZ", "Asia/Tokyo");
    tzset();
    // GLib reads these once, on first use: before anything else.
    SetUpIsolatedHome();
    g_mountRefusal = EnterPrivateMountNamespace();
    if (!g_mountRefusal.empty())
        std::printf("[   NOTE   ] mounting tests skip: %s\n", g_mountRefusal.c_str());
}

}  // namespace snapsift::testing
