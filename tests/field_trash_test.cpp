// SPDX-License-Identifier: MIT
// Trash folders that are not the user's alone, on a real ext4 (and an exFAT
// card open to everyone), and a home trash that is a link.
#include "delete/delete_selected.h"
#include "field_disks.h"
#include "hostile_trees.h"
#include "platform/local_time.h"
#include "platform/progress.h"
#include "platform/user_desktop.h"
#include "review/result_view.h"
#include "scan/folder_scan.h"
#include "support/temp_tree.h"
#include "ui/delete_conversation.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace snapsift::testing {
namespace {

// --- Trash folders others could change ---------------------------------------

struct UnsafeTrash {
    const char* name;
    const char* setUp;  // which field set-up
    // Spoils the trash at the disk's top; returns why it cannot, or "".
    std::string (*spoil)(const std::string& top);
    TrashProblem problem;  // what the refusal must say
    const char* where;     // of what, below the top
    const char* words;     // in the message the window shows
};

std::string MakeTrash(const std::string& top, mode_t mode)
{
    const std::string trash = top + "/.Trash-" + Uid();
    if (mkdir(trash.c_str(), 0700) != 0 || mkdir((trash + "/files").c_str(), 0700) != 0 ||
        mkdir((trash + "/info").c_str(), 0700) != 0 || chmod(trash.c_str(), mode) != 0)
        return "cannot make " + trash;
    return {};
}

const UnsafeTrash kUnsafeTrashes[] = {
    {"world_writable_trash_of_another_users_making", "ext4_own_trash",
     [](const std::string& top) {
         // field.md's "another user": the trash is open to all, its parts theirs.
         const std::string trash = top + "/.Trash-" + Uid();
         if (mkdir(trash.c_str(), 0777) != 0 || chmod(trash.c_str(), 0777) != 0)
             return std::string("cannot make the trash");
         for (const char* part : {"/files", "/info"}) {
             if (mkdir((trash + part).c_str(), 0700) != 0 || chown((trash + part).c_str(), kOtherUser, kOtherUser) != 0)
                 return std::string("cannot give a folder away");
         }
         return std::string();
     },
     TrashProblem::OthersMayWrite, ".Trash-", "他のユーザーも書き込めるフォルダーです"},
    {"files_of_another_user", "ext4_own_trash",
     [](const std::string& top) {
         const std::string e = MakeTrash(top, 0700);
         const std::string files = top + "/.Trash-" + Uid() + "/files";
         return !e.empty() ? e : chown(files.c_str(), kOtherUser, kOtherUser) == 0 ? "" : "chown failed";
     },
     TrashProblem::NotOwned, ".Trash-/files", "別のユーザーのフォルダーです"},
    {"info_is_a_link", "ext4_own_trash",
     [](const std::string& top) {
         const std::string e = MakeTrash(top, 0700);
         const std::string info = top + "/.Trash-" + Uid() + "/info";
         mkdir((top + "/elsewhere").c_str(), 0700);
         return !e.empty()                                                               ? e
                : rmdir(info.c_str()) == 0 && symlink("../elsewhere", info.c_str()) == 0 ? ""
                                                                                         : "no link";
     },
     TrashProblem::Link, ".Trash-/info", "フォルダーではなくシンボリックリンクです"},
    {"files_is_a_file", "ext4_own_trash",
     [](const std::string& top) {
         const std::string e = MakeTrash(top, 0700);
         const std::string files = top + "/.Trash-" + Uid() + "/files";
         if (!e.empty() || rmdir(files.c_str()) != 0)
             return std::string("cannot replace files/");
         WriteFileMakingFolders(files, "a file");
         return std::string();
     },
     TrashProblem::NotAFolder, ".Trash-/files", "フォルダーではなくファイルです"},
    {"group_writable_info", "ext4_own_trash",
     [](const std::string& top) {
         const std::string e = MakeTrash(top, 0700);
         return !e.empty() ? e : chmod((top + "/.Trash-" + Uid() + "/info").c_str(), 0770) == 0 ? "" : "chmod";
     },
     TrashProblem::OthersMayWrite, ".Trash-/info", "他のユーザーも書き込めるフォルダーです"},
    // A card as exfat-fuse mounts it by default: everything open to all.
    // The trash folder made for it cannot be used and is removed again.
    {"card_open_to_everyone", "exfat_fuse_open", [](const std::string&) { return std::string(); },
     TrashProblem::OthersMayWrite, ".Trash-", "他のユーザーも書き込めるフォルダーです"},
};

class UnsafeTrashTest : public ::testing::TestWithParam<UnsafeTrash> { };

TEST_P(UnsafeTrashTest, IsRefusedWithItsReasonAndTheFileStays)
{
    const UnsafeTrash& c = GetParam();
    FieldDisk disk(FieldSetUpNamed(c.setUp));
    if (!disk.skip.empty())
        GTEST_SKIP() << disk.skip;
    if (const std::string why = c.spoil(disk.top); !why.empty())
        GTEST_SKIP() << why;
    const std::string made = Exists(disk.trash) ? "" : disk.trash;
    const std::string a = disk.top + "/DCIM/100CANON/IMG_0001.JPG", b = disk.top + "/DCIM/101CANON/IMG_0001.JPG";
    WriteFileMakingFolders(a, "one");
    WriteFileMakingFolders(b, "two");
    const TempDir logs;
    RecordingMessenger messenger;
    const DeleteOutcome outcome = DeleteEverything(disk.top, logs / "DeleteLog.log", messenger);

    EXPECT_EQ(outcome.moved, 0);
    ASSERT_EQ(outcome.notMoved.size(), 2u);
    std::string where = std::string(c.where);
    where.replace(where.find(".Trash-"), 7, ".Trash-" + Uid());
    for (const NotMoved& n : outcome.notMoved) {
        EXPECT_EQ(n.reason, NotMovedReason::Refused) << n.path;
        EXPECT_EQ(n.refusal.problem, c.problem) << n.path << ": " << n.error;
        EXPECT_EQ(n.refusal.where, disk.top + "/" + where) << n.error;
    }
    EXPECT_EQ(ReadFile(a), "one");
    EXPECT_EQ(ReadFile(b), "two");
    // The window says it in Japanese, naming what stands in the way.
    ASSERT_EQ(messenger.shown.size(), 2u);
    const std::string& text = messenger.shown[1].text;
    EXPECT_NE(text.find(disk.top + "/" + where + ": " + c.words), std::string::npos) << text;
    if (!made.empty()) {
        EXPECT_FALSE(Exists(made)) << "the trash folder made for nothing stays";
    }
    // Nothing landed in a spoiled part either.
    EXPECT_FALSE(Exists(disk.top + "/elsewhere/IMG_0001.JPG.trashinfo"));
}

INSTANTIATE_TEST_SUITE_P(Trashes, UnsafeTrashTest, ::testing::ValuesIn(kUnsafeTrashes),
                         [](const ::testing::TestParamInfo<UnsafeTrash>& info) {
                             return std::string(info.param.name);
                         });

// A shared .Trash whose user folder others may write to is passed over for
// the mount's .Trash-UID, as GIO does.
TEST(SharedTrashTest, OpenUserFolderGivesWayToTheOwnTrash)
{
    FieldDisk disk(FieldSetUpNamed("ext4_sticky_trash"));
    if (!disk.skip.empty())
        GTEST_SKIP() << disk.skip;
    ASSERT_EQ(mkdir(disk.trash.c_str(), 0700), 0);
    ASSERT_EQ(chmod(disk.trash.c_str(), 0777), 0);
    WriteFileMakingFolders(disk.top + "/a/IMG_0001.JPG", "one");
    WriteFileMakingFolders(disk.top + "/b/IMG_0001.JPG", "two");
    const TempDir logs;
    RecordingMessenger messenger;
    const DeleteOutcome outcome = DeleteEverything(disk.top, logs / "DeleteLog.log", messenger);
    ASSERT_EQ(outcome.moved, 2);
    for (const TrashedFile& m : outcome.movedFiles)
        EXPECT_EQ(m.entry.folder, disk.top + "/.Trash-" + Uid());
    EXPECT_FALSE(Exists(disk.trash + "/files"));
    EXPECT_FALSE(Exists(disk.trash + "/info"));
}

// The home trash is a link: the reason names it, not another file system.
TEST(HomeTrashTest, LinkIsRefusedByItsOwnName)
{
    const std::string trash = UserTrashFolder();
    const std::string aside = trash + ".aside";
    if (Exists(trash)) {
        ASSERT_EQ(rename(trash.c_str(), aside.c_str()), 0);
    }
    const TempDir elsewhere;
    ASSERT_EQ(symlink(elsewhere.Path().c_str(), trash.c_str()), 0);
    const TempDir pictures;
    const std::string a = pictures.WriteFile("a/x.jpg", "one"), b = pictures.WriteFile("b/x.jpg", "two");
    RecordingMessenger messenger;
    const DeleteOutcome outcome = DeleteEverything(pictures.Path(), pictures / "DeleteLog.log", messenger);
    unlink(trash.c_str());
    rename(aside.c_str(), trash.c_str());

    ASSERT_EQ(outcome.notMoved.size(), 2u);
    EXPECT_EQ(outcome.notMoved[0].refusal.problem, TrashProblem::Link);
    EXPECT_EQ(outcome.notMoved[0].refusal.where, trash);
    EXPECT_EQ(ReadFile(a), "one");
    EXPECT_FALSE(Exists(elsewhere / "files"));
    ASSERT_EQ(messenger.shown.size(), 2u);
    EXPECT_NE(messenger.shown[1].text.find(trash + ": フォルダーではなくシンボリックリンクです"), std::string::npos)
        << messenger.shown[1].text;
}

}  // namespace
}  // namespace snapsift::testing
