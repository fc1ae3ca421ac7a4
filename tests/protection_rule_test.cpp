// SPDX-License-Identifier: MIT
// The rule of protection on mount tables given as text: a folder is covered
// by a protected folder of the same file system at or above its place,
// however each was reached.
#include "platform/mounts.h"
#include "review/protection.h"
#include "scan/file_table.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

namespace snapsift {
namespace {

// id parent maj:min root mount-point: the fields the rule reads.
std::string Line(int id, int parent, const char* device, const char* root, const char* point, const char* type = "ext4")
{
    return std::to_string(id) + " " + std::to_string(parent) + " " + device + " " + root + " " + point +
           " rw,relatime shared:1 - " + type + " /dev/x rw\n";
}

const std::string kRootDisk = Line(21, 1, "8:1", "/", "/");

struct PlaceCase {
    const char* what;
    std::string mountinfo;
    std::vector<std::string> protectedFolders;
    std::vector<std::string> covered;
    std::vector<std::string> free;
};

class ProtectionRuleTest : public ::testing::TestWithParam<PlaceCase> { };

TEST_P(ProtectionRuleTest, CoversByPlaceAndByPathAsSeen)
{
    const PlaceCase& c = GetParam();
    ProtectedFolders folders;
    for (const std::string& path : c.protectedFolders)
        folders.AddKept(path);
    ProtectionRule rule(folders, ParseMountInfo(c.mountinfo));
    for (const std::string& path : c.covered)
        EXPECT_TRUE(rule.Covers(path)) << path;
    for (const std::string& path : c.free)
        EXPECT_FALSE(rule.Covers(path)) << path;
    // Asked again, the same answers (decided once, kept).
    for (const std::string& path : c.covered)
        EXPECT_TRUE(rule.Covers(path)) << path;
}

const PlaceCase kPlaceCases[] = {
    {"plain_folders", kRootDisk, {"/data"}, {"/data", "/data/", "/data/a/b"}, {"/database", "/dat", "/", "/home/data"}},
    {"protected_folder_above_a_bind_mounts_source",
     kRootDisk + Line(40, 21, "8:1", "/data/home/u", "/home/u"),
     {"/data"},
     {"/home/u", "/home/u/Pictures/old"},
     {"/home", "/home/v"}},
    {"subfolder_of_a_protected_folder_bound_elsewhere",
     kRootDisk + Line(40, 21, "8:1", "/home/u/Pictures/masters/sub", "/home/u/Desktop/view"),
     {"/home/u/Pictures/masters"},
     {"/home/u/Desktop/view", "/home/u/Desktop/view/deeper"},
     {"/home/u/Desktop", "/home/u/Desktop/viewer", "/home/u/Pictures"}},
    {"second_mount_of_one_device",
     kRootDisk + Line(40, 21, "7:0", "/", "/mnt/a") + Line(41, 21, "7:0", "/", "/mnt/b"),
     {"/mnt/a/keep"},
     {"/mnt/b/keep", "/mnt/b/keep/x", "/mnt/a/keep/y"},
     {"/mnt/b", "/mnt/b/other", "/mnt/a"}},
    {"same_path_on_another_device_is_another_folder",
     kRootDisk + Line(40, 21, "8:17", "/", "/media/usb"),
     {"/data"},
     {},
     {"/media/usb/data", "/media/usb"}},
    {"protected_mount_point_and_its_device_elsewhere",
     kRootDisk + Line(40, 21, "8:17", "/", "/media/usb") + Line(41, 21, "8:17", "/photos", "/srv/photos"),
     {"/media/usb"},
     {"/srv/photos/2020", "/media/usb/x"},
     {"/srv", "/media"}},
    // btrfs: subvolumes share the device of the mount; their roots say
    // where each lies in the file system.
    {"btrfs_subvolumes",
     Line(21, 1, "0:31", "/@", "/", "btrfs") + Line(40, 21, "0:31", "/@home", "/home", "btrfs") +
         Line(41, 21, "0:31", "/@home/u/Pictures", "/srv/pics", "btrfs"),
     {"/home/u/Pictures", "/srv"},
     {"/srv/pics/x", "/home/u/Pictures/y", "/srv/other"},
     {"/home/u", "/home/srv", "/home"}},
    // A mount hidden under a later mount at a folder above it: the path
    // lies on the upper one.
    {"mount_hidden_by_a_mount_above_it",
     kRootDisk + Line(40, 21, "8:2", "/", "/mnt/a") + Line(41, 21, "0:50", "/", "/mnt", "tmpfs") +
         Line(42, 21, "8:2", "/", "/keep"),
     {"/keep/x"},
     {"/keep/x/y"},
     {"/mnt/a/x", "/mnt/a/x/y"}},
    // Two mounts at one point: the later one, mounted on the first, is seen.
    {"stacked_mounts_the_top_one_counts",
     kRootDisk + Line(40, 21, "8:2", "/", "/media/x") + Line(41, 40, "8:3", "/", "/media/x") +
         Line(42, 21, "8:3", "/", "/other") + Line(43, 21, "8:2", "/", "/lower"),
     {"/other/p", "/lower/q"},
     {"/media/x/p/1"},
     {"/media/x/q/1"}},
    // Without the tree (a container's table whose parents are missing):
    // the deepest mount point above the path.
    {"table_without_its_root",
     Line(40, 5, "8:1", "/data/home", "/home") + Line(41, 6, "8:1", "/", "/srv/all"),
     {"/srv/all/data"},
     {"/home/u"},
     {"/srv/all/x"}},
};

INSTANTIATE_TEST_SUITE_P(Places, ProtectionRuleTest, ::testing::ValuesIn(kPlaceCases),
                         [](const ::testing::TestParamInfo<PlaceCase>& info) { return info.param.what; });

TEST(MountLocatorTest, PlaceIsTheMountsRootJoinedWithThePathBelowItsMountPoint)
{
    const MountLocator mounts(ParseMountInfo(kRootDisk + Line(40, 21, "8:1", "/data/home/u", "/home/u") +
                                             Line(41, 40, "8:9", "/", "/home/u/usb")));
    EXPECT_EQ(mounts.PlaceOf("/"), (FilePlace{8, 1, "/"}));
    EXPECT_EQ(mounts.PlaceOf("/etc"), (FilePlace{8, 1, "/etc"}));
    EXPECT_EQ(mounts.PlaceOf("/home/u"), (FilePlace{8, 1, "/data/home/u"}));
    EXPECT_EQ(mounts.PlaceOf("/home/u/a b"), (FilePlace{8, 1, "/data/home/u/a b"}));
    EXPECT_EQ(mounts.PlaceOf("/home/usb"), (FilePlace{8, 1, "/home/usb"}));
    EXPECT_EQ(mounts.PlaceOf("/home/u/usb"), (FilePlace{8, 9, "/"}));
    EXPECT_EQ(mounts.PlaceOf("/home/u/usb/x"), (FilePlace{8, 9, "/x"}));
    EXPECT_EQ(mounts.PlaceOf("relative/x"), std::nullopt);
    EXPECT_EQ(MountLocator({}).PlaceOf("/x"), std::nullopt);
}

// The tree asks by text alone: a folder is known by its canonical path and
// by the text it was protected by, and protecting it again under another
// name adds no second entry but makes that name known too.
TEST(ProtectedFoldersNamesTest, KnownByCanonicalPathAndByTheNameItWasGiven)
{
    testing::TempDir tmp;
    tmp.MakeFolder("real");
    ASSERT_EQ(symlink((tmp / "real").c_str(), (tmp / "link").c_str()), 0);
    ASSERT_EQ(symlink((tmp / "real").c_str(), (tmp / "other").c_str()), 0);
    ProtectedFolders folders;
    ASSERT_TRUE(folders.Add(tmp / "link"));
    EXPECT_TRUE(folders.NamesProtected(tmp / "link/"));
    EXPECT_TRUE(folders.NamesProtected(tmp / "real"));
    EXPECT_FALSE(folders.NamesProtected(tmp / "other"));  // not asked by that name yet
    EXPECT_TRUE(folders.IsProtected(tmp / "other"));      // though it is the same folder
    folders.Add(tmp / "other");
    EXPECT_EQ(folders.Folders().size(), 1u);
    EXPECT_TRUE(folders.NamesProtected(tmp / "other"));
    // Kept from an earlier run: by its text, without the disk.
    folders.AddKept("/nowhere/kept/");
    folders.AddKept("/nowhere/kept");
    EXPECT_EQ(folders.Folders().size(), 2u);
    EXPECT_TRUE(folders.NamesProtected("/nowhere/kept"));
    EXPECT_TRUE(folders.Covers("/nowhere/kept/below"));
    folders.Remove(tmp / "other");
    EXPECT_FALSE(folders.NamesProtected(tmp / "real"));

    // Kept as written with a link in it: the table's canonical folders below
    // its target are protected all the same.
    folders.AddKept(tmp / "link");
    FileTable table;
    for (const std::string& folder : {tmp / "real/sub", tmp.Path()})
        table.AddFoundFile(table.AddFolder(folder), "a.jpg", FileFacts{1, 1, {}});
    EXPECT_EQ(ProtectedRowFlags(table, folders), (std::vector<std::uint8_t>{1, 0}));
}

}  // namespace
}  // namespace snapsift
