// SPDX-License-Identifier: MIT
// Trash folders that are not the user's alone, on a real ext4 (and an exFAT
// card open to everyone); and the order of flushes and moves that lets every
// moved file keep its entry after a crash, watched with strace.
#include "field_disks.h"
#include "hostile_trees.h"

#include "delete/delete_selected.h"
#include "platform/local_time.h"
#include "platform/progress.h"
#include "platform/shell.h"
#include "review/result_view.h"
#include "scan/folder_scan.h"
#include "ui/delete_conversation.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace snapsift {
namespace {

using testing::FieldDisk;
using testing::ProgramRun;
using testing::ReadFile;
using testing::RecordingMessenger;
using testing::RunProgram;
using testing::TempDir;
using testing::WriteFileMakingFolders;

constexpr int kOtherUser = 5102;

bool Exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::string Uid()
{
    return std::to_string(getuid());
}

// Searches `folder` and deletes every JPEG file found, as the window's
// delete button does once confirmed. `messenger` records what was said.
DeleteOutcome DeleteEverything(const std::string& folder, const std::string& log, RecordingMessenger& messenger)
{
    ResultView view;
    SearchOptions options;
    options.m_bJpeg = true;
    NullProgress progress;
    EXPECT_EQ(ScanFolder(folder, options, view.table, progress).refusal, SearchRefusal::None);
    view.FillResultView();  // lists every row
    for (int j = 0; j < view.list.GetItemCount(); ++j)
        view.list.SetSelected(j, true);
    return DeleteWithConfirmation(view, messenger, progress, log, CurrentTime());
}

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
         return !e.empty() ? e : rmdir(info.c_str()) == 0 && symlink("../elsewhere", info.c_str()) == 0 ? "" : "no link";
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

class UnsafeTrashTest : public ::testing::TestWithParam<UnsafeTrash> {};

TEST_P(UnsafeTrashTest, IsRefusedWithItsReasonAndTheFileStays)
{
    const UnsafeTrash& c = GetParam();
    FieldDisk disk(testing::FieldSetUpNamed(c.setUp));
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
                         [](const ::testing::TestParamInfo<UnsafeTrash>& info) { return std::string(info.param.name); });

// A shared .Trash whose user folder others may write to is passed over for
// the mount's .Trash-UID, as GIO does.
TEST(SharedTrashTest, OpenUserFolderGivesWayToTheOwnTrash)
{
    FieldDisk disk(testing::FieldSetUpNamed("ext4_sticky_trash"));
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
    for (const MovedFile& m : outcome.movedFiles)
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

// --- Crash safety: each entry lasts before its file moves -------------------

struct TraceLine {
    std::string call;    // "fsync", "syncfs", "create" (a .trashinfo), "mkdirat" or "renameat2"
    std::string folder;  // fsync, syncfs: what was flushed; the others: the first folder
    std::string name;    // create, mkdirat and renameat2: the name in it
    std::string toFolder, toName;  // renameat2
};

// The successful calls of a strace -y log that the order is made of.
std::vector<TraceLine> ReadTrace(const std::string& text)
{
    static const std::regex kFlush(R"re(\b(fsync|syncfs)\(\d+<([^>]+)>\)\s+=\s+0)re");
    static const std::regex kCreate(
        R"re(\bopenat\(\d+<([^>]+)>, "([^"]+\.trashinfo)", O_WRONLY\|O_CREAT\|O_EXCL[^)]*\)\s+=\s+\d)re");
    static const std::regex kMkdirat(R"re(\bmkdirat\(\d+<([^>]+)>, "([^"]+)", 0700\)\s+=\s+0)re");
    static const std::regex kRename(
        R"re(\brenameat2\(\d+<([^>]+)>, "([^"]+)", \d+<([^>]+)>, "([^"]+)", RENAME_NOREPLACE\)\s+=\s+0)re");
    std::vector<TraceLine> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_search(line, m, kFlush))
            lines.push_back({m[1], m[2], {}, {}, {}});
        else if (std::regex_search(line, m, kCreate))
            lines.push_back({"create", m[1], m[2], {}, {}});
        else if (std::regex_search(line, m, kMkdirat))
            lines.push_back({"mkdirat", m[1], m[2], {}, {}});
        else if (std::regex_search(line, m, kRename))
            lines.push_back({"renameat2", m[1], m[2], m[3], m[4]});
    }
    return lines;
}

// The index of the first `call` of `path` in [from, to), or `to`.
std::size_t Find(const std::vector<TraceLine>& lines, const std::string& call, const std::string& path,
                 std::size_t from, std::size_t to)
{
    for (std::size_t i = from; i < to; ++i) {
        if (lines[i].call == call && (call == "syncfs" ? lines[i].folder.rfind(path, 0) == 0 : lines[i].folder == path))
            return i;
    }
    return to;
}

// True when what was written at `created` is on the disk by `before`: the
// whole file system synced, or the file and then its folder flushed.
bool Flushed(const std::vector<TraceLine>& lines, const std::string& top, const std::string& file,
             const std::string& folder, std::size_t created, std::size_t before)
{
    if (Find(lines, "syncfs", top, created, before) < before)
        return true;
    const std::size_t data = Find(lines, "fsync", file, created, before);
    return data < before && Find(lines, "fsync", folder, data, before) < before;
}

TEST(CrashSafetyTest, EachEntryAndFolderIsFlushedBeforeTheFileMoves)
{
    if (access("/usr/bin/strace", X_OK) != 0)
        GTEST_SKIP() << "strace is not installed";
    FieldDisk disk(testing::FieldSetUpNamed("ext4_own_trash"));
    if (!disk.skip.empty())
        GTEST_SKIP() << disk.skip;
    constexpr int kFiles = 5;
    for (int i = 1; i <= kFiles; ++i) {
        for (const char* folder : {"/DCIM/100CANON/IMG_000", "/DCIM/101CANON/IMG_000"})
            WriteFileMakingFolders(disk.top + folder + std::to_string(i) + ".JPG", "picture " + std::to_string(i));
    }
    const TempDir work;
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const ProgramRun run = RunProgram({"/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-qq", "-y",
                                       "-e", "trace=openat,fsync,fdatasync,syncfs,mkdirat,renameat2", "-o", work / "trace",
                                       self, "--delete-below", disk.top + "/DCIM", work / "DeleteLog.log"},
                                      120);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::vector<TraceLine> lines = ReadTrace(ReadFile(work / "trace"));

    std::size_t firstMove = lines.size(), moves = 0, flushes = 0;
    const std::string info = disk.trash + "/info";
    for (std::size_t r = 0; r < lines.size(); ++r) {
        if ((lines[r].call == "fsync" && lines[r].folder == info) ||
            (lines[r].call == "syncfs" && lines[r].folder.rfind(disk.top, 0) == 0))
            ++flushes;
        if (lines[r].call != "renameat2" || lines[r].toFolder != disk.trash + "/files")
            continue;
        ++moves;
        firstMove = std::min(firstMove, r);
        // The entry's .trashinfo, and the folder that names it, are on the disk before the move.
        const std::string name = lines[r].toName + ".trashinfo";
        std::size_t created = r;
        for (std::size_t c = 0; c < r; ++c) {
            if (lines[c].call == "create" && lines[c].folder == info && lines[c].name == name)
                created = c;
        }
        ASSERT_LT(created, r) << name << " was not made before the move";
        EXPECT_TRUE(Flushed(lines, disk.top, info + "/" + name, info, created, r))
            << name << ": not flushed, with info/, before the move";
    }
    EXPECT_EQ(moves, 2u * kFiles);
    // Every folder the trash made is flushed into its parent before a move.
    std::size_t made = 0;
    for (std::size_t m = 0; m < firstMove; ++m) {
        if (lines[m].call != "mkdirat")
            continue;
        ++made;
        EXPECT_LT(Find(lines, "fsync", lines[m].folder, m + 1, firstMove), firstMove)
            << lines[m].folder << "/" << lines[m].name;
    }
    EXPECT_EQ(made, 3u) << ".Trash-UID, files/ and info/";
    // The entries are flushed in batches, not once per file.
    EXPECT_LT(flushes, 2u * kFiles);
    for (int i = 1; i <= kFiles; ++i) {
        const std::string info = ReadFile(disk.trash + "/info/IMG_000" + std::to_string(i) + ".JPG.trashinfo");
        EXPECT_NE(info.find("\nDeletionDate="), std::string::npos) << info;
    }
}

// The names in a folder of an ext4 image, as debugfs lists them.
std::vector<std::string> ImageFolder(const std::string& image, const std::string& folder)
{
    const ProgramRun run = RunProgram({"/usr/sbin/debugfs", "-R", "ls -p " + folder, image}, 60);
    std::vector<std::string> names;
    std::istringstream in(run.out);
    static const std::regex kEntry(R"re(^/\d+/\d+/\d+/\d+/([^/]+)/)re");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_search(line, m, kEntry) && m[1] != "." && m[1] != "..")
            names.push_back(m[1]);
    }
    return names;
}

// A crash right after the moves, as the disk holds it: once the file system
// has committed its journal (which an fsync of any other file forces), a copy
// of the image shows every moved file with its whole .trashinfo.
TEST(CrashSafetyTest, ImageCopiedRightAfterTheMovesHoldsEveryEntry)
{
    if (access("/usr/sbin/debugfs", X_OK) != 0)
        GTEST_SKIP() << "debugfs (e2fsprogs) is not installed";
    FieldDisk disk(testing::FieldSetUpNamed("ext4_own_trash"));
    if (!disk.skip.empty())
        GTEST_SKIP() << disk.skip;
    constexpr int kFiles = 5;
    for (int i = 1; i <= kFiles; ++i) {
        for (const char* folder : {"/a/IMG_000", "/b/IMG_000"})
            WriteFileMakingFolders(disk.top + folder + std::to_string(i) + ".JPG", "picture " + std::to_string(i));
    }
    ASSERT_EQ(FieldDisk::Run("sync -f " + disk.top), "");  // the pictures are on the disk before the deletion
    const TempDir work;
    RecordingMessenger messenger;
    const DeleteOutcome outcome = DeleteEverything(disk.top, work / "DeleteLog.log", messenger);
    ASSERT_EQ(outcome.moved, 2 * kFiles);
    // Another program flushes a file of its own: the journal with the moves is committed.
    WriteFileMakingFolders(disk.top + "/other.txt", "another program's");
    const int fd = open((disk.top + "/other.txt").c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fsync(fd), 0);
    close(fd);
    const std::string copy = work / "copy.img";
    ASSERT_EQ(FieldDisk::Run("cp --sparse=always '" + disk.image + "' '" + copy + "'"), "");

    // e2fsck replays the journal as a mount after the crash would.
    ASSERT_EQ(FieldDisk::Run("e2fsck -fy '" + copy + "' >/dev/null; test $? -le 1"), "");
    const std::string trash = "/.Trash-" + Uid();
    const std::vector<std::string> files = ImageFolder(copy, trash + "/files");
    ASSERT_EQ(files.size(), 2u * kFiles) << "the moves did not reach the copy: nothing was tested";
    for (const std::string& name : files) {
        const ProgramRun info = RunProgram({"/usr/sbin/debugfs", "-R", "cat " + trash + "/info/" + name + ".trashinfo",
                                            copy}, 60);
        EXPECT_EQ(info.out.rfind("[Trash Info]\nPath=", 0), 0u) << name << ": " << info.out;
        EXPECT_NE(info.out.find("\nDeletionDate="), std::string::npos) << name;
    }
}

} // namespace
} // namespace snapsift

// The deletion that the crash-safety case watches from outside: every JPEG
// file below the folder, as the window deletes them.
int DeleteBelow(const char* folder, const char* log)
{
    snapsift::testing::RecordingMessenger messenger;
    const snapsift::DeleteOutcome outcome = snapsift::DeleteEverything(folder, log, messenger);
    std::printf("%d moved, %zu not moved\n", outcome.moved, outcome.notMoved.size());
    return outcome.moved > 0 && outcome.notMoved.empty() ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--delete-below")
        return DeleteBelow(argv[2], argv[3]);
    snapsift::testing::SetUpHostileProcess();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
