// SPDX-License-Identifier: MIT
#include "platform/mounts.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace snapsift {
namespace {

// Undoes the \ooo escapes that mountinfo uses for space, tab, newline and
// backslash. Anything that is not a full escape stays as it is.
std::string Unescape(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<std::string_view> SplitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        if (pos >= line.size())
            break;
        const std::size_t end = std::min(line.find(' ', pos), line.size());
        fields.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return fields;
}

bool ParseNumber(std::string_view field, unsigned& value)
{
    if (field.empty() || field.size() > 9)
        return false;
    unsigned long n = 0;
    for (char ch : field) {
        if (ch < '0' || ch > '9')
            return false;
        n = n * 10 + static_cast<unsigned long>(ch - '0');
    }
    value = static_cast<unsigned>(n);
    return true;
}

bool ParseDevice(std::string_view field, unsigned& major, unsigned& minor)
{
    const std::size_t colon = field.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 >= field.size())
        return false;
    unsigned long values[2] = {0, 0};
    const std::string_view parts[2] = {field.substr(0, colon), field.substr(colon + 1)};
    for (int k = 0; k < 2; ++k) {
        if (parts[k].size() > 9)
            return false;
        for (char ch : parts[k]) {
            if (ch < '0' || ch > '9')
                return false;
            values[k] = values[k] * 10 + static_cast<unsigned long>(ch - '0');
        }
    }
    major = static_cast<unsigned>(values[0]);
    minor = static_cast<unsigned>(values[1]);
    return true;
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// True for "dir" itself and everything below it.
bool IsAtOrUnder(std::string_view path, std::string_view dir)
{
    return path == dir || (StartsWith(path, dir) && path.size() > dir.size() && path[dir.size()] == '/');
}

// True when `folder` is a folder above `path`: "/" is above every other path.
bool IsAbove(std::string_view folder, std::string_view path)
{
    if (folder == path)
        return false;
    return folder == "/" ? !path.empty() && path[0] == '/' : IsAtOrUnder(path, folder);
}

bool InSystemPlace(std::string_view mountPoint)
{
    if (IsAtOrUnder(mountPoint, "/run/media"))
        return false;
    static constexpr std::array<std::string_view, 7> kSystem = {"/proc", "/sys",  "/dev",           "/run",
                                                                "/boot", "/snap", "/var/lib/docker"};
    return std::any_of(kSystem.begin(), kSystem.end(),
                       [&](std::string_view dir) { return IsAtOrUnder(mountPoint, dir); });
}

std::string ReadSmallFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string LastPart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether the block device major:minor is removable, on USB, or a card or
// floppy: the marks of a medium the user carries around.
bool IsRemovableBlockDevice(const std::string& sysRoot, unsigned major, unsigned minor)
{
    const std::string link = sysRoot + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    std::string device = link;
    // Resolve the link by hand so a test tree with relative links works too.
    char target[4096];
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0) {
        target[n] = '\0';
        device = target[0] == '/' ? std::string(target) : sysRoot + "/dev/block/" + target;
    }
    std::string disk = device;
    std::ifstream partition(device + "/partition");
    if (partition.good())
        disk = device.substr(0, device.rfind('/'));
    const std::string diskName = LastPart(disk);
    if (StartsWith(diskName, "mmcblk") || StartsWith(diskName, "fd"))
        return true;
    if (ReadSmallFile(disk + "/removable").substr(0, 1) == "1")
        return true;
    return device.find("/usb") != std::string::npos;
}

bool IsBlockDevice(const std::string& sysRoot, unsigned major, unsigned minor)
{
    const std::string link = sysRoot + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    return access(link.c_str(), F_OK) == 0;
}

// True when the mount point `mountPoint` is `path` or a folder above it.
bool Shows(std::string_view mountPoint, std::string_view path)
{
    return mountPoint == path || IsAbove(mountPoint, path);
}

}  // namespace

MountLocator::MountLocator(std::vector<MountEntry> mounts) : mounts_(std::move(mounts)), children_(mounts_.size())
{
    std::vector<std::pair<unsigned, std::size_t>> byId;
    for (std::size_t i = 0; i < mounts_.size(); ++i)
        byId.emplace_back(mounts_[i].id, i);
    std::sort(byId.begin(), byId.end());
    for (std::size_t i = 0; i < mounts_.size(); ++i) {
        const MountEntry& m = mounts_[i];
        const auto parent = std::lower_bound(byId.begin(), byId.end(), std::make_pair(m.parent, std::size_t{0}));
        if (parent != byId.end() && parent->first == m.parent && m.parent != m.id)
            children_[parent->second].push_back(i);
        else
            roots_.push_back(i);
    }
}

const MountEntry* MountLocator::MountOf(const std::string& path) const
{
    // The root: the last top mount at "/", as the kernel's lookup starts there.
    const MountEntry* current = nullptr;
    std::size_t at = 0;
    for (std::size_t i : roots_) {
        if (mounts_[i].mountPoint == "/") {
            current = &mounts_[i];
            at = i;
        }
    }
    if (current == nullptr) {
        // A table without its tree: the deepest mount point above the path,
        // the later of equals.
        for (const MountEntry& m : mounts_) {
            if (Shows(m.mountPoint, path) && (!current || m.mountPoint.size() >= current->mountPoint.size()))
                current = &m;
        }
        return current;
    }
    // Down the mounts stacked on it: the lookup crosses the first mount met on
    // the way, that is the one nearest the top; of mounts at one point, the
    // later one is on top.
    for (;;) {
        const MountEntry* next = nullptr;
        std::size_t nextAt = 0;
        for (std::size_t c : children_[at]) {
            const MountEntry& child = mounts_[c];
            if (Shows(child.mountPoint, path) && (!next || child.mountPoint.size() <= next->mountPoint.size())) {
                next = &child;
                nextAt = c;
            }
        }
        if (next == nullptr)
            return current;
        current = next;
        at = nextAt;
    }
}

std::optional<FilePlace> MountLocator::PlaceOf(const std::string& path) const
{
    if (path.empty() || path[0] != '/')
        return std::nullopt;
    const MountEntry* m = MountOf(path);
    if (m == nullptr)
        return std::nullopt;
    const std::string_view below =
        m->mountPoint == "/" ? std::string_view(path) : std::string_view(path).substr(m->mountPoint.size());
    FilePlace place{m->major, m->minor, m->root};
    if (place.path == "/" || place.path.empty())
        place.path = below.empty() ? std::string("/") : std::string(below);
    else
        place.path += below == "/" ? std::string_view() : below;
    return place;
}

std::vector<MountEntry> ParseMountInfo(std::string_view text)
{
    std::vector<MountEntry> mounts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::vector<std::string_view> f = SplitFields(text.substr(pos, end - pos));
        pos = end + 1;
        // id parent maj:min root mountpoint options [optional...] - type source superopts
        const auto dash = std::find(f.begin(), f.end(), std::string_view("-"));
        if (f.size() < 6 || dash == f.end() || dash - f.begin() < 6 || f.end() - dash < 3)
            continue;
        MountEntry m;
        if (!ParseDevice(f[2], m.major, m.minor) || !ParseNumber(f[0], m.id) || !ParseNumber(f[1], m.parent))
            continue;
        m.root = Unescape(f[3]);
        m.mountPoint = Unescape(f[4]);
        m.fsType = Unescape(dash[1]);
        m.source = Unescape(dash[2]);
        mounts.push_back(std::move(m));
    }
    return mounts;
}

std::vector<MountEntry> ReadMountTable()
{
    return ParseMountInfo(ReadSmallFile("/proc/self/mountinfo"));
}

bool IsPseudoFileSystemType(std::string_view fsType)
{
    static const std::set<std::string_view> kPseudo = {"proc",    "sysfs",      "devtmpfs",    "devpts",  "cgroup",
                                                       "cgroup2", "securityfs", "debugfs",     "tracefs", "configfs",
                                                       "mqueue",  "hugetlbfs",  "bpf",         "pstore",  "efivarfs",
                                                       "autofs",  "nsfs",       "binfmt_misc", "fusectl"};
    return kPseudo.count(fsType) != 0;
}

std::optional<std::string> FileSystemTypeOfDevice(dev_t device)
{
    for (const MountEntry& m : ReadMountTable()) {
        if (m.major == major(device) && m.minor == minor(device))
            return m.fsType;
    }
    return std::nullopt;
}

DriveKind DriveKindOf(const MountEntry& mount, const std::string& sysRoot)
{
    static const std::set<std::string_view> kNetwork = {"nfs",      "nfs4",       "cifs",  "smb3", "9p",
                                                        "virtiofs", "fuse.sshfs", "davfs", "ceph"};
    if (kNetwork.count(mount.fsType))
        return DriveKind::Network;
    if (mount.fsType == "iso9660" || mount.fsType == "udf" || StartsWith(mount.source, "/dev/sr"))
        return DriveKind::Disc;
    if (mount.fsType == "tmpfs" || mount.fsType == "ramfs" || StartsWith(mount.source, "/dev/zram"))
        return DriveKind::RamDisk;
    if (mount.major == 7 || StartsWith(LastPart(mount.source), "loop"))
        return DriveKind::Unknown;  // loop devices
    if (mount.major != 0 && IsBlockDevice(sysRoot, mount.major, mount.minor))
        return IsRemovableBlockDevice(sysRoot, mount.major, mount.minor) ? DriveKind::Removable : DriveKind::Fixed;
    return DriveKind::Unknown;
}

namespace {

// The mounts that every rule but the look at the mount point lets through,
// in mount-point order.
std::vector<const MountEntry*> Candidates(const std::vector<MountEntry>& mounts)
{
    std::vector<const MountEntry*> sorted;
    sorted.reserve(mounts.size());
    for (const MountEntry& m : mounts)
        sorted.push_back(&m);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const MountEntry* a, const MountEntry* b) { return a->mountPoint < b->mountPoint; });
    std::vector<const MountEntry*> candidates;
    for (const MountEntry* m : sorted) {
        if (IsPseudoFileSystemType(m->fsType) || m->fsType == "squashfs" || m->fsType == "erofs")
            continue;
        if (m->fsType == "overlay" && m->mountPoint != "/")
            continue;
        if (m->mountPoint.empty() || m->mountPoint[0] != '/' || InSystemPlace(m->mountPoint))
            continue;
        candidates.push_back(m);
    }
    return candidates;
}

}  // namespace

MountPointLook LookAtMountPoint(const std::string& mountPoint)
{
    // A single file mounted over another (containers mount /etc/hosts and
    // the like this way) is no drive.
    struct stat st { };
    return stat(mountPoint.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) ? MountPointLook::File : MountPointLook::Folder;
}

std::vector<std::string> DriveCandidates(const std::vector<MountEntry>& mounts)
{
    std::vector<std::string> points;
    for (const MountEntry* m : Candidates(mounts))
        points.push_back(m->mountPoint);
    return points;
}

std::vector<Drive> ListDrives(const std::vector<MountEntry>& mounts, const std::string& sysRoot)
{
    return ListDrives(mounts, sysRoot, &LookAtMountPoint);
}

std::vector<Drive> ListDrives(const std::vector<MountEntry>& mounts, const std::string& sysRoot,
                              const std::function<MountPointLook(const std::string& mountPoint)>& look)
{
    std::vector<const MountEntry*> offered;
    std::vector<bool> answering;
    for (const MountEntry* m : Candidates(mounts)) {
        const MountPointLook found = look(m->mountPoint);
        if (found == MountPointLook::File)
            continue;
        offered.push_back(m);
        answering.push_back(found != MountPointLook::NoAnswer);
    }
    // A mount whose folder another offered mount already reaches is left out:
    // a bind mount of a folder (another mount of the device has a root above
    // its root) or the device mounted twice (the same root at an earlier mount
    // point). Mounts of one device with unrelated roots, as btrfs subvolumes
    // are, are all kept; so is "/", whatever else reaches it.
    std::vector<Drive> drives;
    for (std::size_t i = 0; i < offered.size(); ++i) {
        const MountEntry& m = *offered[i];
        bool reachable = false;
        for (std::size_t k = 0; k < offered.size() && !reachable && m.mountPoint != "/"; ++k) {
            const MountEntry& other = *offered[k];
            if (k == i || other.major != m.major || other.minor != m.minor)
                continue;
            reachable = IsAbove(other.root, m.root) || (other.root == m.root && k < i);
        }
        if (!reachable)
            drives.push_back(Drive{m.mountPoint, DriveKindOf(m, sysRoot), answering[i]});
    }
    return drives;
}

}  // namespace snapsift
