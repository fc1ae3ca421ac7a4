// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace snapsift {

// One line of /proc/self/mountinfo, with its octal escapes undone.
struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;  // the part of the file system mounted here
    std::string mountPoint;
    std::string fsType;
    std::string source;
    unsigned id = 0;      // the mount's own number
    unsigned parent = 0;  // the number of the mount it was mounted on
};

// Parses mountinfo text. Lines that do not have the expected fields are
// skipped; nothing in the text can make it fail.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The mount table of this process; empty when it cannot be read.
std::vector<MountEntry> ReadMountTable();

// proc, sysfs, devtmpfs, cgroup and the other kernel file systems that hold no
// user files and are never searched.
bool IsPseudoFileSystemType(std::string_view fsType);

// The file-system type mounted with device number `device`, from the mount table.
std::optional<std::string> FileSystemTypeOfDevice(dev_t device);

// Where a folder lies in its own file system: the device of the mount that
// shows it and its path from that file system's root. Two paths with one
// place name the same folder, however each was reached (a bind mount, a
// second mount of the device, a btrfs subvolume mounted on its own).
struct FilePlace {
    unsigned major = 0;
    unsigned minor = 0;
    std::string path;  // from the file system's root, "/" for the root itself
    bool operator==(const FilePlace&) const = default;
};

// Finds the mount that shows a path, as the kernel's lookup crosses mounts:
// from the root mount down through the mounts stacked on it. Works on the
// text alone; the path must be absolute and canonical (no link, "." or
// ".."), as the scan's folder paths are.
class MountLocator final {
public:
    explicit MountLocator(std::vector<MountEntry> mounts);
    // The place of `path`; empty for a relative path or an empty table.
    std::optional<FilePlace> PlaceOf(const std::string& path) const;

private:
    const MountEntry* MountOf(const std::string& path) const;
    std::vector<MountEntry> mounts_;
    std::vector<std::vector<std::size_t>> children_;  // per mount, those mounted on it
    std::vector<std::size_t> roots_;                  // mounts whose parent is not in the table
};

// What sort of disk a drive is on.
enum class DriveKind : std::uint8_t {
    Fixed,      // a disk that stays in the machine
    Removable,  // a disk marked removable, on a USB bus, a memory card, a floppy
    Network,    // a network file system
    Disc,       // a CD, DVD or disc image
    RamDisk,    // memory: tmpfs, ramfs, zram
    Unknown,    // anything else, loop devices included
};

// A mounted file system as the target tree offers it.
struct Drive {
    std::string mountPoint;
    DriveKind kind = DriveKind::Unknown;
    bool answering = true;  // false: its mount point was asked about and gave no answer in time
};

// The kind of a mount. `sysRoot` is where sysfs is found ("/sys"); the
// tests point it at a tree of their own.
DriveKind DriveKindOf(const MountEntry& mount, const std::string& sysRoot = "/sys");

// The drives to offer, in mount-point order with "/" first: pseudo file
// systems, snaps, overlays other than "/", mounts in system places, single
// mounted files and mounts whose folder another offered mount of the same
// device reaches (a bind mount of a folder, a device mounted twice) are left
// out. Mounts of one device with unrelated roots (btrfs subvolumes) all stay.
std::vector<Drive> ListDrives(const std::vector<MountEntry>& mounts, const std::string& sysRoot = "/sys");

// What a look at a mount point found.
enum class MountPointLook : std::uint8_t {
    Folder,    // a folder, or nothing that could be looked at: offered
    File,      // a single mounted file: no drive
    NoAnswer,  // the look did not end in time: offered as not answering
};

// The same, with `look` telling what each mount point is instead of a stat
// of it; `look` is asked only about mount points that pass every other rule.
std::vector<Drive> ListDrives(const std::vector<MountEntry>& mounts, const std::string& sysRoot,
                              const std::function<MountPointLook(const std::string& mountPoint)>& look);

// The mount points ListDrives looks at, in its order.
std::vector<std::string> DriveCandidates(const std::vector<MountEntry>& mounts);

// A stat of the mount point: Folder or File (never NoAnswer). It can block
// for as long as the mounted disk does not answer.
MountPointLook LookAtMountPoint(const std::string& mountPoint);

}  // namespace snapsift
