// SPDX-License-Identifier: MIT
// The drives offered in the target tree (mount table, kinds, skip rules) and
// the tree itself: building, expanding and the search command.
#include "platform/drive_probe.h"
#include "platform/mounts.h"
#include "support/temp_tree.h"
#include "targets/search_targets.h"
#include "ui/fact_texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace snapsift {
namespace {

using testing::TempDir;

// ---------------------------------------------------------------------------
// ParseMountInfo

using MountFields = std::tuple<unsigned, unsigned, std::string, std::string, std::string, std::string>;

MountFields Fields(const MountEntry& m)
{
    return {m.major, m.minor, m.root, m.mountPoint, m.fsType, m.source};
}

std::vector<MountFields> Parse(std::string_view text)
{
    std::vector<MountFields> out;
    for (const MountEntry& m : ParseMountInfo(text))
        out.push_back(Fields(m));
    return out;
}

struct ParseCase {
    const char* what;
    std::string text;
    std::vector<MountFields> expected;
};

TEST(ParseMountInfo, ReadsFieldsUndoesEscapesAndSkipsMalformedLines)
{
    const std::string good1 = "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n";
    const std::string good2 = "40 27 8:17 / /data rw - xfs /dev/sdb1 rw\n";
    const MountFields f1{254, 0, "/", "/", "ext4", "/dev/vda"};
    const MountFields f2{8, 17, "/", "/data", "xfs", "/dev/sdb1"};

    const std::vector<ParseCase> cases = {
        {"one optional field",
         "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw,errors=continue\n",
         {{98, 0, "/mnt1", "/mnt/parent", "ext3", "/dev/root"}}},
        {"no optional field",
         "22 27 0:21 / /proc rw,relatime - proc proc rw\n",
         {{0, 21, "/", "/proc", "proc", "proc"}}},
        {"several optional fields",
         "40 1 8:17 / /data rw shared:5 master:2 propagate_from:1 unbindable - xfs /dev/sdb1 rw\n",
         {f2}},
        {"no super options and no final line end", "40 27 8:17 / /data rw - xfs /dev/sdb1", {f2}},
        {"octal escapes in every text field",
         "50 1 8:33 /a\\134b /media/taro/My\\040Disk\\011x\\012y rw - fuse\\040x //nas/photo\\040share rw\n",
         {{8, 33, "/a\\b", "/media/taro/My Disk\tx\ny", "fuse x", "//nas/photo share"}}},
        {"incomplete or out-of-range escapes stay as written",
         "51 1 8:34 / /mnt/\\400x\\08\\04 rw - ext4 /dev/sdc2\\1 rw\n",
         {{8, 34, "/", "/mnt/\\400x\\08\\04", "ext4", "/dev/sdc2\\1"}}},
        {"repeated spaces between fields", "27  1 254:0  / /  rw,relatime  -  ext4 /dev/vda rw\n", {f1}},
        {"malformed lines between good ones are skipped",
         good1 +
             "\n"
             "   \n"
             "1 2 8:1 / /mnt - ext4 /dev/sda1 rw\n"              // options missing: too few fields before "-"
             "1 2 8:1 / /mnt rw ext4 /dev/sda1 rw\n"             // no "-"
             "1 2 8:1 / /mnt rw -\n"                             // nothing after "-"
             "1 2 8:1 / /mnt rw - ext4\n"                        // no source
             "1 2 8-1 / /mnt rw - ext4 /dev/sda1 rw\n"           // device without colon
             "1 2 :1 / /mnt rw - ext4 /dev/sda1 rw\n"            // no major
             "1 2 8: / /mnt rw - ext4 /dev/sda1 rw\n"            // no minor
             "1 2 a:b / /mnt rw - ext4 /dev/sda1 rw\n"           // not numbers
             "1 2 8:1x / /mnt rw - ext4 /dev/sda1 rw\n"          // trailing junk
             "1 2 1234567890:1 / /mnt rw - ext4 /dev/sda1 rw\n"  // too many digits
             "garbage\n" +
             good2,
         {f1, f2}},
        {"empty text", "", {}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Parse(c.text), c.expected);
    }
}

// ---------------------------------------------------------------------------
// DriveKind and ListDrives over a fake sysfs

// A sysfs tree with dev/block/MAJ:MIN links to device folders, as the kernel
// lays it out: partitions carry a "partition" file, disks a "removable" file.
class FakeSys {
public:
    FakeSys() { dir_.MakeFolder("sys/dev/block"); }
    std::string Root() const { return dir_ / "sys"; }

    // A whole disk at devices/<devicePath>, linked relatively.
    void Disk(const std::string& majMin, const std::string& devicePath, bool removable)
    {
        dir_.WriteFile("sys/devices/" + devicePath + "/removable", removable ? "1\n" : "0\n");
        Link(majMin, "../../devices/" + devicePath);
    }
    // A partition inside the disk folder; the disk is created too.
    void Partition(const std::string& majMin, const std::string& diskPath, const std::string& name, bool removable)
    {
        dir_.WriteFile("sys/devices/" + diskPath + "/removable", removable ? "1\n" : "0\n");
        dir_.WriteFile("sys/devices/" + diskPath + "/" + name + "/partition", "1\n");
        Link(majMin, "../../devices/" + diskPath + "/" + name);
    }
    // A link with an absolute target.
    void AbsolutePartition(const std::string& majMin, const std::string& diskPath, const std::string& name)
    {
        dir_.WriteFile("sys/devices/" + diskPath + "/removable", "0\n");
        dir_.WriteFile("sys/devices/" + diskPath + "/" + name + "/partition", "1\n");
        Link(majMin, dir_ / ("sys/devices/" + diskPath + "/" + name));
    }

private:
    void Link(const std::string& majMin, const std::string& target)
    {
        ASSERT_EQ(symlink(target.c_str(), (dir_ / ("sys/dev/block/" + majMin)).c_str()), 0);
    }
    TempDir dir_;
};

MountEntry Mount(unsigned major, unsigned minor, std::string fsType, std::string source,
                 std::string mountPoint = "/mnt")
{
    MountEntry m;
    m.major = major;
    m.minor = minor;
    m.root = "/";
    m.mountPoint = std::move(mountPoint);
    m.fsType = std::move(fsType);
    m.source = std::move(source);
    return m;
}

// The sysfs of a machine with a little of everything.
void FillMachine(FakeSys& sys)
{
    sys.Partition("8:2", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda", "sda2", false);
    sys.Partition("8:3", "pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda", "sda3", false);
    sys.Disk("254:0", "pci0000:00/0000:00:02.0/virtio1/block/vda", false);
    sys.Partition("8:17", "pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/block/sdb", "sdb1", true);
    sys.Partition("8:33", "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdc", "sdc1",
                  false);
    sys.Partition("179:1", "platform/fe320000.mmc/mmc_host/mmc0/mmc0:0001/block/mmcblk0", "mmcblk0p1", false);
    sys.Disk("2:0", "platform/floppy.0/block/fd0", false);
    sys.AbsolutePartition("259:1", "pci0000:00/0000:00:1d.0/nvme/nvme0/nvme0n1", "nvme0n1p1");
    sys.Disk("253:0", "virtual/block/zram0", false);
    sys.Disk("7:0", "virtual/block/loop0", false);
}

struct KindCase {
    MountEntry mount;
    const char* kind;
};

TEST(DriveKind, NamesEachKindFromTypeSourceAndSysfs)
{
    FakeSys sys;
    FillMachine(sys);
    std::vector<KindCase> cases = {
        {Mount(8, 2, "ext4", "/dev/sda2"), "HDD"},             // partition of a fixed disk
        {Mount(254, 0, "ext4", "/dev/vda"), "HDD"},            // whole disk, no partition
        {Mount(259, 1, "ext4", "/dev/nvme0n1p1"), "HDD"},      // absolute link target
        {Mount(8, 17, "vfat", "/dev/sdb1"), "FDDorMO"},        // disk marked removable
        {Mount(8, 33, "exfat", "/dev/sdc1"), "FDDorMO"},       // disk on a USB bus
        {Mount(179, 1, "vfat", "/dev/mmcblk0p1"), "FDDorMO"},  // memory card
        {Mount(2, 0, "vfat", "/dev/fd0"), "FDDorMO"},          // floppy
        {Mount(0, 50, "iso9660", "/dev/sr0"), "CD-ROM"},
        {Mount(0, 51, "udf", "/dev/sr1"), "CD-ROM"},
        {Mount(11, 0, "hfsplus", "/dev/sr0"), "CD-ROM"},   // by the source alone
        {Mount(7, 0, "iso9660", "/dev/loop0"), "CD-ROM"},  // an image is a disc first
        {Mount(0, 52, "tmpfs", "tmpfs"), "RamD"},
        {Mount(0, 53, "ramfs", "ramfs"), "RamD"},
        {Mount(253, 0, "ext4", "/dev/zram0"), "RamD"},       // in sysfs, still a RAM disk
        {Mount(7, 0, "ext4", "/dev/loop0"), "UNKNOWN"},      // in sysfs, still a loop device
        {Mount(259, 5, "ext4", "/dev/loop0p1"), "UNKNOWN"},  // partition of a loop device
        {Mount(0, 60, "fuse.rclone", "remote:"), "UNKNOWN"},
        {Mount(8, 99, "ext4", "/dev/sdz9"), "UNKNOWN"},   // block device sysfs does not know
        {Mount(0, 61, "btrfs", "/dev/sda4"), "UNKNOWN"},  // anonymous device number
    };
    for (const char* net : {"nfs", "nfs4", "cifs", "smb3", "9p", "virtiofs", "fuse.sshfs", "davfs", "ceph"})
        cases.push_back({Mount(0, 70, net, "server:/share"), "NetD"});

    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.mount.fsType + " " + c.mount.source + " " + std::to_string(c.mount.major) + ":" +
                     std::to_string(c.mount.minor));
        EXPECT_STREQ(DriveKindText(DriveKindOf(c.mount, sys.Root())), c.kind);
    }
}

struct ListCase {
    const char* what;
    std::string mountinfo;
    std::vector<std::string> expected;  // display names, in order
};

std::vector<std::string> DisplayNames(const std::vector<Drive>& drives)
{
    std::vector<std::string> names;
    for (const Drive& d : drives)
        names.push_back(TargetNodeText(TargetNode{TargetNodeKind::Drive, d.mountPoint, d.kind, 0, -1, {}}));
    return names;
}

TEST(ListDrives, KeepsRealFileSystemsInMountPointOrder)
{
    FakeSys sys;
    FillMachine(sys);
    const std::string root = "1 0 8:2 / / rw shared:1 - ext4 /dev/sda2 rw\n";

    std::string pseudo = root;
    int id = 100;
    for (const char* type :
         {"proc", "sysfs", "devtmpfs", "devpts", "cgroup", "cgroup2", "securityfs", "debugfs", "tracefs", "configfs",
          "mqueue", "hugetlbfs", "bpf", "pstore", "efivarfs", "autofs", "nsfs", "binfmt_misc", "fusectl"}) {
        // Outside the system places, so only the type can leave them out.
        pseudo += std::to_string(id) + " 1 0:" + std::to_string(id) + " / /mnt/" + type + " rw - " + type + " " + type +
                  " rw\n";
        ++id;
    }

    const std::vector<ListCase> cases = {
        {"a whole machine",
         "30 1 8:3 / /home rw - ext4 /dev/sda3 rw\n"
         "31 1 0:40 / /tmp rw - tmpfs tmpfs rw\n"
         "32 1 0:41 / /mnt/nas rw - nfs4 nas:/photo rw\n"
         "33 1 8:17 / /run/media/taro/USB\\040STICK rw - vfat /dev/sdb1 rw\n"
         "34 1 0:42 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"
         "35 1 7:0 / /mnt/image rw - ext4 /dev/loop0 rw\n" +
             root,
         {"/ (HDD)", "/home (HDD)", "/media/cdrom (CD-ROM)", "/mnt/image (UNKNOWN)", "/mnt/nas (NetD)",
          "/run/media/taro/USB STICK (FDDorMO)", "/tmp (RamD)"}},
        {"pseudo file systems anywhere", pseudo, {"/ (HDD)"}},
        {"squashfs and erofs",
         root + "40 1 7:1 / /opt/app ro - squashfs /dev/loop1 ro\n"
                "41 1 7:2 / /mnt/ero ro - erofs /dev/loop2 ro\n",
         {"/ (HDD)"}},
        {"an ext4 install with a bind mount of a folder that / already reaches",
         root + "42 1 8:2 /home/taro/data /srv/data rw - ext4 /dev/sda2 rw\n"
                "43 1 8:17 /photos /mnt/photos rw - vfat /dev/sdb1 rw\n"
                "44 1 8:17 /photos/2023 /mnt/2023 rw - vfat /dev/sdb1 rw\n",
         // Nothing else reaches the stick's /photos: it is listed, its subfolder is not.
         {"/ (HDD)", "/mnt/photos (FDDorMO)"}},
        {"btrfs subvolumes laid out as Fedora does",
         "60 1 0:32 /root / rw,relatime shared:1 - btrfs /dev/nvme0n1p3 rw,subvolid=257,subvol=/root\n"
         "90 60 0:32 /home /home rw,relatime shared:49 - btrfs /dev/nvme0n1p3 rw,subvolid=256,subvol=/home\n"
         "91 60 0:32 /home/taro/Pictures /srv/pics rw - btrfs /dev/nvme0n1p3 rw,subvol=/home\n"
         "85 60 8:2 / /boot rw - ext4 /dev/sda2 rw\n",
         {"/ (UNKNOWN)", "/home (UNKNOWN)"}},
        {"btrfs subvolumes laid out as Ubuntu does",
         "28 1 0:27 /@ / rw - btrfs /dev/sda2 rw,subvol=/@\n"
         "29 28 0:27 /@home /home rw - btrfs /dev/sda2 rw,subvol=/@home\n"
         "30 28 0:27 /@home /mnt/home-again rw - btrfs /dev/sda2 rw,subvol=/@home\n",
         {"/ (UNKNOWN)", "/home (UNKNOWN)"}},
        {"btrfs subvolumes laid out as openSUSE does: / lies inside /.snapshots",
         "22 1 0:21 /@/.snapshots/1/snapshot / rw - btrfs /dev/sda2 rw,subvol=/@/.snapshots/1/snapshot\n"
         "40 22 0:21 /@/.snapshots /.snapshots rw - btrfs /dev/sda2 rw,subvol=/@/.snapshots\n"
         "41 22 0:21 /@/home /home rw - btrfs /dev/sda2 rw,subvol=/@home\n"
         "42 22 0:21 /@/srv /srv rw - btrfs /dev/sda2 rw,subvol=/@/srv\n",
         {"/ (UNKNOWN)", "/.snapshots (UNKNOWN)", "/home (UNKNOWN)", "/srv (UNKNOWN)"}},
        {"a container on overlay with files and folders of the host mounted in",
         "500 400 0:50 / / rw - overlay overlay rw,lowerdir=/var/lib/docker/overlay2/l/A\n"
         "501 500 0:52 / /proc rw - proc proc rw\n"
         "502 500 0:53 / /dev rw - tmpfs tmpfs rw\n"
         "510 500 254:1 /var/lib/docker/containers/c1/resolv.conf /etc/resolv.conf rw - ext4 /dev/vda1 rw\n"
         "511 500 254:1 /var/lib/docker/containers/c1/hosts /etc/hosts rw - ext4 /dev/vda1 rw\n"
         "512 500 254:1 /home/taro/photos /data rw - ext4 /dev/vda1 rw\n"
         "513 500 254:1 /home/taro/photos/old /data-old rw - ext4 /dev/vda1 rw\n"
         "514 500 0:60 / /data/cache rw - overlay overlay rw\n",
         {"/ (UNKNOWN)", "/data (UNKNOWN)"}},
        {"a device already listed: the first mount point wins",
         root + "44 1 8:2 / /mnt/again rw - ext4 /dev/sda2 rw\n"
                "45 1 8:17 / /mnt/b rw - vfat /dev/sdb1 rw\n"
                "46 1 8:17 / /mnt/a rw - vfat /dev/sdb1 rw\n",
         {"/ (HDD)", "/mnt/a (FDDorMO)"}},
        {"a device first met in a skipped place is still listed elsewhere",
         root + "47 1 8:3 / /boot rw - ext4 /dev/sda3 rw\n"
                "48 1 8:3 / /mnt/boot rw - ext4 /dev/sda3 rw\n",
         {"/ (HDD)", "/mnt/boot (HDD)"}},
        {"overlay only at the root",
         "50 1 0:60 / /var/tmp/ov rw - overlay overlay rw\n"
         "51 1 0:61 / / rw - overlay overlay rw,lowerdir=/a\n"
         "52 1 8:3 / /home rw - ext4 /dev/sda3 rw\n",
         {"/ (UNKNOWN)", "/home (HDD)"}},
        {"system places",
         root + "60 1 0:80 / /proc/fs/x rw - tmpfs tmpfs rw\n"
                "61 1 0:81 / /sys/kernel/x rw - tmpfs tmpfs rw\n"
                "62 1 0:82 / /dev/shm rw - tmpfs tmpfs rw\n"
                "63 1 0:83 / /run rw - tmpfs tmpfs rw\n"
                "64 1 0:84 / /run/user/1000 rw - tmpfs tmpfs rw\n"
                "65 1 0:85 / /run/mediax rw - tmpfs tmpfs rw\n"
                "66 1 8:3 / /boot/efi rw - vfat /dev/sda3 rw\n"
                "67 1 0:86 / /snap rw - tmpfs tmpfs rw\n"
                "68 1 0:87 / /var/lib/docker rw - ext4 /dev/sdx rw\n"
                "69 1 0:88 / /var/lib/docker/volumes/v rw - tmpfs tmpfs rw\n"
                "70 1 0:89 / /proc rw - tmpfs tmpfs rw\n"
                // Names that only begin like a system place are kept.
                "71 1 0:90 / /run/media rw - tmpfs tmpfs rw\n"
                "72 1 0:91 / /bootstrap rw - tmpfs tmpfs rw\n"
                "73 1 0:92 / /snapshots rw - tmpfs tmpfs rw\n"
                "74 1 0:93 / /devices rw - tmpfs tmpfs rw\n"
                "75 1 0:94 / /var/lib/dockerd rw - tmpfs tmpfs rw\n"
                "76 1 0:95 / /system rw - tmpfs tmpfs rw\n",
         {"/ (HDD)", "/bootstrap (RamD)", "/devices (RamD)", "/run/media (RamD)", "/snapshots (RamD)", "/system (RamD)",
          "/var/lib/dockerd (RamD)"}},
        {"byte order of mount points",
         "80 1 0:100 / /media/a/x rw - tmpfs tmpfs rw\n"
         "81 1 0:101 / /media/a\\040b rw - tmpfs tmpfs rw\n"
         "82 1 0:102 / /media/a rw - tmpfs tmpfs rw\n"
         "83 1 0:103 / /Media rw - tmpfs tmpfs rw\n"
         "84 1 0:104 / /media/a-b rw - tmpfs tmpfs rw\n" +
             root,
         {"/ (HDD)", "/Media (RamD)", "/media/a (RamD)", "/media/a b (RamD)", "/media/a-b (RamD)",
          "/media/a/x (RamD)"}},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DisplayNames(ListDrives(ParseMountInfo(c.mountinfo), sys.Root())), c.expected);
    }
}

// A look at each mount point decides what is offered: a mounted file is no
// drive, a mount point that gives no answer is offered as not answering,
// and every other rule stays as it was.
TEST(ListDrives, LooksAtTheMountPointsThatPassEveryOtherRule)
{
    FakeSys sys;
    FillMachine(sys);
    const std::string mountinfo = "1 0 8:2 / / rw - ext4 /dev/sda2 rw\n"
                                  "30 1 0:40 / /mnt/hosts rw - tmpfs tmpfs rw\n"
                                  "31 1 0:41 / /mnt/nas rw - nfs4 nas:/photo rw\n"
                                  "32 1 0:42 / /proc rw - proc proc rw\n"
                                  "33 1 0:43 / /mnt/tmp rw - tmpfs tmpfs rw\n";
    std::vector<std::string> asked;
    const auto look = [&asked](const std::string& point) {
        asked.push_back(point);
        return point == "/mnt/hosts" ? MountPointLook::File
               : point == "/mnt/nas" ? MountPointLook::NoAnswer
                                     : MountPointLook::Folder;
    };
    const std::vector<Drive> drives = ListDrives(ParseMountInfo(mountinfo), sys.Root(), look);
    EXPECT_EQ(asked, (std::vector<std::string>{"/", "/mnt/hosts", "/mnt/nas", "/mnt/tmp"}));
    EXPECT_EQ(DriveCandidates(ParseMountInfo(mountinfo)), asked);
    std::vector<std::string> names;
    for (const Drive& d : drives)
        names.push_back(
            TargetNodeText(TargetNode{TargetNodeKind::Drive, d.mountPoint, d.kind, 0, -1, {}, d.answering}));
    EXPECT_EQ(names, (std::vector<std::string>{"/ (HDD)", "/mnt/nas (NetD) (応答なし)", "/mnt/tmp (RamD)"}));
}

// Holds the looks at the mount points it is given until it opens.
class HeldLooks final {
public:
    explicit HeldLooks(std::vector<std::string> held) : state_(std::make_shared<State>()) { state_->held = held; }
    ~HeldLooks() { Open(); }
    HeldLooks(const HeldLooks&) = delete;
    HeldLooks& operator=(const HeldLooks&) = delete;
    std::function<MountPointLook(const std::string&)> Look() const
    {
        return [state = state_](const std::string& point) {
            std::unique_lock lock(state->mutex);
            if (std::find(state->held.begin(), state->held.end(), point) != state->held.end())
                state->opened.wait(lock, [&] { return state->open; });
            return point == "/mnt/file" ? MountPointLook::File : MountPointLook::Folder;
        };
    }
    void Open()
    {
        const std::lock_guard lock(state_->mutex);
        state_->open = true;
        state_->opened.notify_all();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable opened;
        std::vector<std::string> held;
        bool open = false;
    };
    std::shared_ptr<State> state_;
};

// Mount points that do not answer are offered as not answering once the
// limit has passed; each says what it is when it answers after all. Mount
// points that answer are never marked.
TEST(ListDrivesWithin, OffersWhatDoesNotAnswerAsNotAnsweringAndTellsItsLateAnswer)
{
    FakeSys sys;
    FillMachine(sys);
    const std::string mountinfo = "1 0 8:2 / / rw - ext4 /dev/sda2 rw\n"
                                  "30 1 0:40 / /mnt/dead rw - fuse.fusefat /dev/fuse rw\n"
                                  "31 1 0:41 / /mnt/file rw - tmpfs tmpfs rw\n"
                                  "32 1 0:42 / /mnt/tmp rw - tmpfs tmpfs rw\n";
    HeldLooks held({"/mnt/dead", "/mnt/file"});
    std::mutex mutex;
    std::condition_variable told;
    std::vector<std::pair<std::string, MountPointLook>> late;
    const std::vector<Drive> drives = ListDrivesWithin(
        // Long enough for a loaded machine to look at the ones that answer.
        ParseMountInfo(mountinfo), std::chrono::seconds(2),
        [&](const std::string& point, MountPointLook found) {
            const std::lock_guard lock(mutex);
            late.emplace_back(point, found);
            told.notify_all();
        },
        sys.Root(), held.Look());
    std::vector<std::pair<std::string, bool>> offered;
    for (const Drive& d : drives)
        offered.emplace_back(d.mountPoint, d.answering);
    // A look that did not end may be a mounted file: it stays offered until it says so.
    EXPECT_EQ(offered, (std::vector<std::pair<std::string, bool>>{
                           {"/", true}, {"/mnt/dead", false}, {"/mnt/file", false}, {"/mnt/tmp", true}}));
    held.Open();
    std::unique_lock lock(mutex);
    ASSERT_TRUE(told.wait_for(lock, std::chrono::minutes(1), [&] { return late.size() == 2; }));
    std::sort(late.begin(), late.end());
    EXPECT_EQ(late, (std::vector<std::pair<std::string, MountPointLook>>{{"/mnt/dead", MountPointLook::Folder},
                                                                         {"/mnt/file", MountPointLook::File}}));
}

// ---------------------------------------------------------------------------
// SearchTargets

class SearchTargetsTest : public ::testing::Test {
protected:
    // The children texts of `node`, in order.
    std::vector<std::string> ChildTexts(int node) const
    {
        std::vector<std::string> texts;
        for (int child : targets.nodes.at(node).children)
            texts.push_back(TargetNodeText(targets.nodes.at(child)));
        return texts;
    }
    const std::string& PathOf(int node) const { return targets.folders.m_folderPaths.at(targets.nodes.at(node).row); }
    int Child(int node, const std::string& text) const
    {
        for (int child : targets.nodes.at(node).children) {
            if (TargetNodeText(targets.nodes.at(child)) == text)
                return child;
        }
        ADD_FAILURE() << "no child " << text;
        return -1;
    }
    void ExpectTableConsistent() const
    {
        const FolderTable& t = targets.folders;
        // Every node but the current root owns exactly one row.
        std::vector<int> owners(static_cast<std::size_t>(t.FolderCount()), 0);
        for (const TargetNode& n : targets.nodes) {
            if (n.row < 0)
                continue;
            ASSERT_LT(n.row, t.FolderCount());
            ++owners[static_cast<std::size_t>(n.row)];
        }
        for (int count : owners)
            EXPECT_LE(count, 1);
    }
    int Build(const std::string& desktop)
    {
        targets.BuildFolderTree(drives, desktop);
        const std::vector<int> roots = targets.Roots();
        return roots.size() > 1 ? roots[1] : -1;
    }

    TempDir dir;
    std::vector<Drive> drives;
    SearchTargets targets;
    // The folder the search command picks for `node`; "" when it refuses.
    std::string Searched(int node) const { return targets.OnSearch(node).path; }
};

TEST_F(SearchTargetsTest, BuildsDrivesDesktopAndItsSubfoldersInNameOrder)
{
    const std::string desktop = dir.MakeFolder("Desktop");
    dir.MakeFolder("Desktop/b");
    dir.MakeFolder("Desktop/A");
    dir.MakeFolder("Desktop/c/deeper");
    dir.MakeFile("Desktop/a.jpg");
    dir.MakeFolder("elsewhere");
    ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (dir / "Desktop/link").c_str()), 0);
    drives = {{"/", DriveKind::Fixed}, {dir / "usb stick", DriveKind::Removable}};

    const int desktopNode = Build(desktop);

    const std::vector<int> roots = targets.Roots();
    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(TargetNodeText(targets.nodes[roots[0]]), "カレント");
    EXPECT_EQ(targets.nodes[roots[0]].row, -1);
    EXPECT_EQ(ChildTexts(roots[0]), (std::vector<std::string>{"/ (HDD)", dir / "usb stick (FDDorMO)"}));
    EXPECT_EQ(TargetNodeText(targets.nodes[desktopNode]), "デスクトップ");
    EXPECT_EQ(ChildTexts(desktopNode), (std::vector<std::string>{"A", "b", "c"}));  // no file, no link, one level

    const FolderTable& t = targets.folders;
    EXPECT_EQ(t.m_folderPaths, (std::vector<std::string>{"/", dir / "usb stick", desktop, desktop + "/A",
                                                         desktop + "/b", desktop + "/c"}));
    EXPECT_EQ(t.FolderCount(), 6);
    ExpectTableConsistent();
}

TEST_F(SearchTargetsTest, MissingDesktopGivesTheRowButNoNode)
{
    drives = {{"/", DriveKind::Fixed}};
    EXPECT_EQ(Build(dir / "no such desktop"), -1);
    EXPECT_EQ(targets.Roots().size(), 1u);
    EXPECT_EQ(targets.folders.m_folderPaths, (std::vector<std::string>{"/", dir / "no such desktop"}));
    ExpectTableConsistent();
}

TEST_F(SearchTargetsTest, DesktopReachedThroughALinkIsListed)
{
    dir.MakeFolder("real/sub");
    ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "Desktop").c_str()), 0);
    const int desktopNode = Build(dir / "Desktop");
    ASSERT_GE(desktopNode, 0);
    EXPECT_EQ(ChildTexts(desktopNode), (std::vector<std::string>{"sub"}));
}

TEST_F(SearchTargetsTest, ExpandListsEachNodesOwnFolderOnce)
{
    // Two folders called "img" in different places, with different contents.
    const std::string desktop = dir.MakeFolder("Desktop");
    dir.MakeFolder("Desktop/x/img/from-x");
    dir.MakeFolder("Desktop/y/img/from-y1");
    dir.MakeFolder("Desktop/y/img/from-y2");
    const int desktopNode = Build(desktop);
    const int x = Child(desktopNode, "x");
    const int y = Child(desktopNode, "y");

    ASSERT_EQ(targets.ExpandFolderNode(x).size(), 1u);
    ASSERT_EQ(targets.ExpandFolderNode(y).size(), 1u);
    const int imgY = Child(y, "img");
    const int imgX = Child(x, "img");
    EXPECT_EQ(PathOf(imgX), desktop + "/x/img");
    EXPECT_EQ(PathOf(imgY), desktop + "/y/img");

    // Expand the second "img" first: it must list its own folder, not the
    // one of the first row with that name.
    const std::vector<int> addedY = targets.ExpandFolderNode(imgY);
    EXPECT_EQ(ChildTexts(imgY), (std::vector<std::string>{"from-y1", "from-y2"}));
    ASSERT_EQ(addedY.size(), 2u);
    EXPECT_EQ(PathOf(addedY[0]), desktop + "/y/img/from-y1");
    targets.ExpandFolderNode(imgX);
    EXPECT_EQ(ChildTexts(imgX), (std::vector<std::string>{"from-x"}));
    EXPECT_EQ(PathOf(Child(imgX, "from-x")), desktop + "/x/img/from-x");

    // A node with children is not listed again, even when its folder changed.
    dir.MakeFolder("Desktop/y/img/from-y3");
    const int countBefore = targets.folders.FolderCount();
    EXPECT_TRUE(targets.ExpandFolderNode(imgY).empty());
    EXPECT_EQ(ChildTexts(imgY).size(), 2u);
    EXPECT_EQ(targets.folders.FolderCount(), countBefore);
    ExpectTableConsistent();

    // Searching either "img" searches its own folder.
    EXPECT_EQ(Searched(imgY), desktop + "/y/img");
    EXPECT_EQ(Searched(imgX), desktop + "/x/img");
}

TEST_F(SearchTargetsTest, FolderWithoutSubfoldersStaysChildlessUntilOneAppears)
{
    const std::string desktop = dir.MakeFolder("Desktop");
    dir.MakeFile("Desktop/empty/only-a-file.jpg");
    dir.MakeFolder("Desktop/target");
    ASSERT_EQ(symlink((dir / "Desktop/target").c_str(), (dir / "Desktop/empty/link-to-folder").c_str()), 0);
    const int empty = Child(Build(desktop), "empty");

    const int countBefore = targets.folders.FolderCount();
    EXPECT_TRUE(targets.ExpandFolderNode(empty).empty());
    EXPECT_TRUE(targets.ExpandFolderNode(empty).empty());
    EXPECT_TRUE(targets.nodes[empty].children.empty());
    EXPECT_EQ(targets.folders.FolderCount(), countBefore);

    dir.MakeFolder("Desktop/empty/new");
    const std::vector<int> added = targets.ExpandFolderNode(empty);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(PathOf(added[0]), desktop + "/empty/new");
    ExpectTableConsistent();
}

TEST_F(SearchTargetsTest, ExpandOfDrivesAndOddNodes)
{
    const std::string mount = dir.MakeFolder("mnt");
    dir.MakeFolder("mnt/photos");
    drives = {{"/", DriveKind::Fixed}, {mount, DriveKind::Fixed}};
    Build(dir / "no desktop");
    const int current = targets.Roots()[0];
    const int rootDrive = targets.nodes[current].children[0];
    const int tempDrive = targets.nodes[current].children[1];

    EXPECT_TRUE(targets.ExpandFolderNode(current).empty());
    EXPECT_TRUE(targets.ExpandFolderNode(-1).empty());
    EXPECT_TRUE(targets.ExpandFolderNode(static_cast<int>(targets.nodes.size())).empty());

    targets.ExpandFolderNode(tempDrive);
    EXPECT_EQ(ChildTexts(tempDrive), (std::vector<std::string>{"photos"}));
    EXPECT_EQ(PathOf(Child(tempDrive, "photos")), mount + "/photos");

    // The root drive's subfolders get paths with one slash.
    const std::vector<int> underRoot = targets.ExpandFolderNode(rootDrive);
    ASSERT_FALSE(underRoot.empty());
    for (int node : underRoot)
        EXPECT_EQ(PathOf(node), "/" + targets.nodes[node].name);
    ExpectTableConsistent();
}

// Listed elsewhere, in two steps: the folder to list, then its names. A
// node that got children meanwhile, or stands for no folder, takes none.
TEST_F(SearchTargetsTest, ListingInTwoStepsAddsOnceAndOnlyToAFolder)
{
    const std::string mount = dir.MakeFolder("mnt");
    drives = {{mount, DriveKind::Fixed, false}};
    Build(dir / "no desktop");
    const int current = targets.Roots()[0];
    const int drive = targets.nodes[current].children[0];
    EXPECT_EQ(ChildTexts(current), (std::vector<std::string>{mount + " (HDD) (応答なし)"}));
    EXPECT_FALSE(targets.FolderToExpand(current));
    EXPECT_FALSE(targets.FolderToExpand(-1));
    const std::optional<FolderToList> folder = targets.FolderToExpand(drive);
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->path, mount);
    EXPECT_TRUE(folder->followLastLink);  // a drive may be reached through a link
    EXPECT_TRUE(targets.AddListedFolders(current, {"x"}).empty());

    const std::vector<int> added = targets.AddListedFolders(drive, {"a", "b"});
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(PathOf(added[1]), mount + "/b");
    const std::optional<FolderToList> below = targets.FolderToExpand(added[0]);
    ASSERT_TRUE(below);
    EXPECT_FALSE(below->followLastLink);  // folders below a drive never are
    // A late second listing of the drive adds nothing.
    EXPECT_TRUE(targets.AddListedFolders(drive, {"a", "b", "c"}).empty());
    EXPECT_EQ(ChildTexts(drive), (std::vector<std::string>{"a", "b"}));
    ExpectTableConsistent();
}

TEST_F(SearchTargetsTest, FolderReplacedByALinkIsNotFollowed)
{
    const std::string desktop = dir.MakeFolder("Desktop");
    dir.MakeFolder("Desktop/album");
    dir.MakeFolder("outside/secret");
    const int album = Child(Build(desktop), "album");
    ASSERT_EQ(rmdir((dir / "Desktop/album").c_str()), 0);
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "Desktop/album").c_str()), 0);
    EXPECT_TRUE(targets.ExpandFolderNode(album).empty());
}

TEST_F(SearchTargetsTest, SearchCommandRefusalsAndTargets)
{
    const std::string desktop = dir.MakeFolder("Desktop");
    dir.MakeFolder("Desktop/カレント");
    drives = {{"/", DriveKind::Fixed}};
    const int desktopNode = Build(desktop);
    const int current = targets.Roots()[0];

    // No node selected, a node past the end, and the root "カレント".
    for (const auto& [node, refusal] : {std::pair{-1, TargetRefusal::NoNodeSelected},
                                        {static_cast<int>(targets.nodes.size()), TargetRefusal::NoNodeSelected},
                                        {current, TargetRefusal::NotATarget}}) {
        const TargetChoice choice = targets.OnSearch(node);
        EXPECT_EQ(choice.refusal, refusal) << node;
        EXPECT_EQ(choice.path, "") << node;
    }

    // A real folder called "カレント", a drive and the desktop are searched
    // with their own paths.
    for (const auto& [node, path] : {std::pair{Child(desktopNode, "カレント"), desktop + "/カレント"},
                                     {targets.nodes[current].children[0], std::string("/")},
                                     {desktopNode, desktop}}) {
        const TargetChoice choice = targets.OnSearch(node);
        EXPECT_EQ(choice.refusal, TargetRefusal::None);
        EXPECT_EQ(choice.path, path);
    }
}

}  // namespace
}  // namespace snapsift
