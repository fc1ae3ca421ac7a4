// SPDX-License-Identifier: MIT
#include "field_disks.h"

#include "hostile_trees.h"
#include "platform/local_time.h"
#include "platform/progress.h"
#include "review/result_view.h"
#include "scan/folder_scan.h"
#include "ui/delete_conversation.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <numeric>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace snapsift::testing {
namespace {

std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool HaveFuse()
{
    return access("/dev/fuse", R_OK | W_OK) == 0;
}

std::string MakeExt4(FieldDisk& d)
{
    const std::string image = d.Image("e.img", 32);
    const std::string mnt = d.MountPoint();
    if (auto e = FieldDisk::Run("mkfs.ext4 -q -F " + Quoted(image)); !e.empty())
        return "mkfs.ext4: " + e;
    if (auto e = FieldDisk::Run("mount -o loop " + Quoted(image) + " " + Quoted(mnt)); !e.empty())
        return "mount -o loop (ext4): " + e;
    d.MountedAt(mnt);
    d.top = mnt;
    d.trash = mnt + "/.Trash-" + Uid();
    d.image = image;
    return {};
}

std::string MakeExfat(FieldDisk& d, const std::string& options)
{
    if (!HaveFuse())
        return "no /dev/fuse";
    const std::string image = d.Image("card.img", 64);
    const std::string mnt = d.MountPoint();
    if (auto e = FieldDisk::Run("mkfs.exfat -L CANON " + Quoted(image)); !e.empty())
        return "mkfs.exfat: " + e;
    std::string error;
    const std::string loop = d.AttachLoop(image, error);
    if (loop.empty())
        return error;
    if (auto e = FieldDisk::Run("mount.exfat-fuse " + options + " " + loop + " " + Quoted(mnt)); !e.empty())
        return "mount.exfat-fuse: " + e;
    d.MountedAt(mnt);
    d.top = mnt;
    d.trash = mnt + "/.Trash-" + Uid();
    return {};
}

std::string MakeBtrfs(FieldDisk& d, bool inSnapshot)
{
    const std::string image = d.Image("b.img", 256);
    const std::string mnt = d.MountPoint();
    if (auto e = FieldDisk::Run("mkfs.btrfs -q " + Quoted(image)); !e.empty())
        return "mkfs.btrfs: " + e;
    if (auto e = FieldDisk::Run("mount -o loop " + Quoted(image) + " " + Quoted(mnt)); !e.empty())
        return "mount -o loop (btrfs): " + e;
    d.MountedAt(mnt);
    if (auto e = FieldDisk::Run("btrfs -q subvolume create " + Quoted(mnt + "/photos")); !e.empty())
        return "btrfs subvolume create: " + e;
    // The snapshot holds the pictures the subvolume had when it was taken.
    WriteFileMakingFolders(mnt + "/photos/DCIM/100CANON/IMG_0001.JPG", "before the snapshot");
    if (auto e =
            FieldDisk::Run("btrfs -q subvolume snapshot " + Quoted(mnt + "/photos") + " " + Quoted(mnt + "/snap-rw"));
        !e.empty())
        return "btrfs subvolume snapshot: " + e;
    d.top = mnt + (inSnapshot ? "/snap-rw" : "/photos");
    d.trash = d.top + "/.Trash-" + Uid();
    return {};
}

const std::vector<FieldSetUp> kSetUps = {
    {"fat32_fusefat",
     [](FieldDisk& d) -> std::string {
         if (!HaveFuse())
             return "no /dev/fuse";
         const std::string image = d.Image("card.img", 64);
         const std::string mnt = d.MountPoint();
         if (auto e = FieldDisk::Run("mkfs.vfat -F 32 -n CANON " + Quoted(image)); !e.empty())
             return "mkfs.vfat: " + e;
         if (auto e = FieldDisk::Run("fusefat -o rw+ " + Quoted(image) + " " + Quoted(mnt)); !e.empty())
             return "fusefat: " + e;
         d.MountedAt(mnt);
         d.top = mnt;
         d.trash = mnt + "/.Trash-" + Uid();
         return {};
     }},
    // As a desktop mounts a card for its user: nobody else may write.
    {"exfat_fuse", [](FieldDisk& d) { return MakeExfat(d, "-o umask=0077"); }},
    {"btrfs_subvolume", [](FieldDisk& d) { return MakeBtrfs(d, false); }, false},
    {"btrfs_writable_snapshot", [](FieldDisk& d) { return MakeBtrfs(d, true); }, false},
    {"xfs",
     [](FieldDisk& d) -> std::string {
         const std::string image = d.Image("x.img", 300);
         const std::string mnt = d.MountPoint();
         if (auto e = FieldDisk::Run("mkfs.xfs -q " + Quoted(image)); !e.empty())
             return "mkfs.xfs: " + e;
         if (auto e = FieldDisk::Run("mount -o loop " + Quoted(image) + " " + Quoted(mnt)); !e.empty())
             return "mount -o loop (xfs): " + e;
         d.MountedAt(mnt);
         d.top = mnt;
         d.trash = mnt + "/.Trash-" + Uid();
         return {};
     }},
    {"ext4_own_trash", MakeExt4},
    {"ext4_sticky_trash",
     [](FieldDisk& d) -> std::string {
         if (auto e = MakeExt4(d); !e.empty())
             return e;
         const std::string shared = d.top + "/.Trash";
         if (mkdir(shared.c_str(), 0755) != 0 || chmod(shared.c_str(), 01777) != 0)
             return "cannot make the sticky .Trash";
         d.trash = shared + "/" + Uid();
         return {};
     }},
};

}  // namespace

std::string Uid()
{
    return std::to_string(getuid());
}

FieldDisk::FieldDisk(const FieldSetUp& setUp, std::string mountAt) : mountAt_(std::move(mountAt))
{
    if (!MountRefusal().empty()) {
        skip = "cannot mount here: " + MountRefusal();
        return;
    }
    skip = setUp.make(*this);
}

FieldDisk::~FieldDisk()
{
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it)
        umount2(it->c_str(), MNT_DETACH);
    if (!mountAt_.empty())
        rmdir(mountAt_.c_str());
    for (const std::string& loop : loops_)
        Run("losetup -d " + loop);
}

std::string FieldDisk::Run(const std::string& command)
{
    const std::string full = "PATH=\"$PATH:/sbin:/usr/sbin\"; export PATH; { " + command + " ; } 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe)
        return "cannot start a shell";
    std::string out;
    char buffer[512];
    while (const std::size_t n = fread(buffer, 1, sizeof buffer, pipe))
        out.append(buffer, n);
    const int status = pclose(pipe);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {};
    if (out.empty())
        out = "failed";
    return out + " (status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
}

std::string FieldDisk::Image(const std::string& name, int megabytes)
{
    const std::string path = scratch_ / name;
    if (truncate(path.c_str(), 0) != 0) {
        std::ofstream{path};
    }
    if (truncate(path.c_str(), static_cast<off_t>(megabytes) * 1024 * 1024) != 0)
        throw std::runtime_error("cannot size " + path);
    return path;
}

std::string FieldDisk::MountPoint()
{
    if (!mountAt_.empty()) {
        mkdir(mountAt_.c_str(), 0755);
        return mountAt_;
    }
    return scratch_.MakeFolder("mnt");
}

std::string FieldDisk::AttachLoop(const std::string& image, std::string& error)
{
    const std::string list = scratch_ / "loop.txt";
    error = Run("losetup -f --show " + Quoted(image) + " > " + Quoted(list));
    if (!error.empty()) {
        error = "losetup: " + error;
        return {};
    }
    std::string loop;
    std::ifstream(list) >> loop;
    if (loop.empty())
        error = "losetup named no device";
    else
        loops_.push_back(loop);
    return loop;
}

const std::vector<FieldSetUp>& FieldSetUps()
{
    return kSetUps;
}

const FieldSetUp& FieldSetUpNamed(const std::string& name)
{
    static const FieldSetUp open{"exfat_fuse_open", [](FieldDisk& d) { return MakeExfat(d, ""); }};
    if (name == open.name)
        return open;
    for (const FieldSetUp& s : kSetUps) {
        if (name == s.name)
            return s;
    }
    throw std::runtime_error("no field set-up " + name);
}

DeleteOutcome DeleteEverything(const std::string& folder, const std::string& log, RecordingMessenger& messenger)
{
    ResultView view;
    SearchOptions options;
    options.m_bJpeg = true;
    NullProgress progress;
    EXPECT_EQ(ScanFolder(folder, options, view.table, progress).refusal, SearchRefusal::None);
    view.FillResultView();  // lists every row
    std::vector<int> every(static_cast<std::size_t>(view.list.GetItemCount()));
    std::iota(every.begin(), every.end(), 0);
    return DeleteWithConfirmation(view, every, messenger, progress, log, CurrentTime());
}

void WriteFileMakingFolders(const std::string& path, const std::string& content)
{
    for (std::size_t slash = 1; (slash = path.find('/', slash)) != std::string::npos; ++slash)
        mkdir(path.substr(0, slash).c_str(), 0755);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

}  // namespace snapsift::testing
