// SPDX-License-Identifier: MIT
// A crash right after a deletion: the order of flushes and moves, watched with
// strace, and an ext4 image copied at once and checked with e2fsck.
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

// --- Crash safety: each entry lasts before its file moves -------------------

struct TraceLine {
    std::string call;              // "fsync", "syncfs", "create" (a .trashinfo), "mkdirat" or "renameat2"
    std::string folder;            // fsync, syncfs: what was flushed; the others: the first folder
    std::string name;              // create, mkdirat and renameat2: the name in it
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

constexpr int kFiles = 5;

// Writes IMG_0001.JPG to IMG_0005.JPG (kFiles) into the folder `a` and again into `b`.
void WriteEachPictureTwice(const std::string& a, const std::string& b)
{
    for (int i = 1; i <= kFiles; ++i) {
        for (const std::string& folder : {a, b})
            WriteFileMakingFolders(folder + "/IMG_000" + std::to_string(i) + ".JPG", "picture " + std::to_string(i));
    }
}

TEST(CrashSafetyTest, EachEntryAndFolderIsFlushedBeforeTheFileMoves)
{
    if (access("/usr/bin/strace", X_OK) != 0)
        GTEST_SKIP() << "strace is not installed";
    FieldDisk disk(FieldSetUpNamed("ext4_own_trash"));
    if (!disk.skip.empty())
        GTEST_SKIP() << disk.skip;
    WriteEachPictureTwice(disk.top + "/DCIM/100CANON", disk.top + "/DCIM/101CANON");
    const TempDir work;
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const ProgramRun run = RunProgram({"/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-qq", "-y", "-e",
                                       "trace=openat,fsync,fdatasync,syncfs,mkdirat,renameat2", "-o", work / "trace",
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
    FieldDisk disk(FieldSetUpNamed("ext4_own_trash"));
    if (!disk.skip.empty())
        GTEST_SKIP() << disk.skip;
    WriteEachPictureTwice(disk.top + "/a", disk.top + "/b");
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
        const ProgramRun info =
            RunProgram({"/usr/sbin/debugfs", "-R", "cat " + trash + "/info/" + name + ".trashinfo", copy}, 60);
        EXPECT_EQ(info.out.rfind("[Trash Info]\nPath=", 0), 0u) << name << ": " << info.out;
        EXPECT_NE(info.out.find("\nDeletionDate="), std::string::npos) << name;
    }
}

}  // namespace
}  // namespace snapsift::testing

// The deletion that the crash-safety case watches from outside: every JPEG
// file below the folder, as the window deletes them.
int DeleteBelow(const char* folder, const char* log)
{
    snapsift::testing::RecordingMessenger messenger;
    const snapsift::DeleteOutcome outcome = snapsift::testing::DeleteEverything(folder, log, messenger);
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
