// SPDX-License-Identifier: MIT
// The record each deletion keeps and the undo from it: real files, a real
// trash under a temporary XDG_DATA_HOME, the record under a temporary
// XDG_STATE_HOME, other programs' trash tools, a killed deletion, and clocks
// that go back or change zone.
#include "delete/delete_selected.h"
#include "delete/deletion_log.h"
#include "delete/deletion_record.h"
#include "delete/restore_last.h"
#include "platform/local_time.h"
#include "platform/progress.h"
#include "support/gio_trash.h"
#include "support/scoped_env.h"
#include "support/temp_tree.h"
#include "support/temporary_home.h"
#include "ui/window_texts.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace snapsift {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::RemoveTree;
using testing::TempDir;
using testing::TimeZone;
using testing::TrashDir;

// A temporary home with the trash, for the whole program; and why this
// process cannot mount file systems of its own (empty when it can).
const std::string& g_mountRefusal = testing::UseTemporaryHome();

std::vector<std::string> FolderNames(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* e = readdir(dir)) {
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<RestoreStatus> Statuses(const std::vector<RestoreResult>& results)
{
    std::vector<RestoreStatus> out;
    for (const RestoreResult& r : results)
        out.push_back(r.status);
    return out;
}

class RecordTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveTree(TrashDir());
        RemoveTree(RecordsFolder());
    }

    // A file with `content`, confirmed as the search found it.
    ConfirmedFile Pic(const std::string& relative, const std::string& content = "")
    {
        const std::string path = tree_.WriteFile("pics/" + relative, content.empty() ? "picture " + relative : content);
        const auto facts = StatRegularFile(path);
        EXPECT_TRUE(facts) << path;
        return {path, facts.value_or(FileFacts{})};
    }

    DeleteOutcome Delete(const std::vector<ConfirmedFile>& files, std::int64_t start = CurrentTime(),
                         const TrashHooks& hooks = {})
    {
        NullProgress progress;
        return DeleteConfirmed(files, progress, log_, start, hooks, std::chrono::milliseconds(200));
    }

    std::vector<RestoreResult> RestoreLast()
    {
        LastLoggedDeletion last;
        EXPECT_EQ(ReadLastLoggedDeletion(log_, last), LogReadOutcome::Read);
        NullProgress progress;
        return RestoreLastLogged(last, progress);
    }

    TempDir tree_;
    std::string log_ = tree_.MakeFolder("logs") + "/DeleteLog.log";
};

// The record is a key file that GLib reads back: the log, the block's time in
// UTC and local time, and for each moved file its exact path bytes, its entry
// and its facts. No journal stays behind, and no record names a file that
// did not move.
TEST_F(RecordTest, RecordNamesEveryMovedFileAndOnlyThose)
{
    const ConfirmedFile odd = Pic("line\rbreak\n%41 \x82\xa0.jpg"), plain = Pic("plain.jpg");
    ConfirmedFile changed = Pic("changed.jpg");
    changed.facts.size += 1;
    const std::int64_t start = 1735657198;  // 2024-12-31 23:59:58 in Tokyo
    const DeleteOutcome outcome = Delete({odd, changed, plain}, start);
    ASSERT_EQ(outcome.moved, 2);
    ASSERT_FALSE(outcome.recordId.empty());
    EXPECT_TRUE(outcome.recordError.empty()) << outcome.recordError;
    EXPECT_EQ(outcome.recordId, "20241231T145958Z");
    EXPECT_EQ(FolderNames(RecordsFolder()), std::vector<std::string>{outcome.recordId + ".record"});

    GKeyFile* keys = g_key_file_new();
    const std::string text = ReadFile(RecordsFolder() + "/" + outcome.recordId + ".record");
    ASSERT_TRUE(g_key_file_load_from_data(keys, text.data(), text.size(), G_KEY_FILE_NONE, nullptr)) << text;
    const auto value = [keys](const char* group, const char* key) {
        gchar* v = g_key_file_get_value(keys, group, key, nullptr);
        std::string out = v ? v : "<missing>";
        g_free(v);
        return out;
    };
    const auto unescaped = [&](const char* group, const char* key) {
        gchar* raw = g_uri_unescape_string(value(group, key).c_str(), nullptr);
        std::string out = raw ? raw : "<bad>";
        g_free(raw);
        return out;
    };
    EXPECT_EQ(unescaped("Deletion", "Log"), log_);
    EXPECT_EQ(value("Deletion", "StartUTC"), "2024-12-31T14:59:58Z");
    EXPECT_EQ(value("Deletion", "StartLocal"), "2024-12-31T23:59:58+0900");
    EXPECT_EQ(value("Deletion", "StartText"), "2024年12月31日 23時59分58秒");
    EXPECT_EQ(value("Deletion", "Files"), "2");
    EXPECT_EQ(unescaped("File 1", "Path"), odd.path);
    EXPECT_EQ(unescaped("File 2", "Path"), plain.path);
    EXPECT_FALSE(g_key_file_has_group(keys, "File 3"));
    EXPECT_EQ(unescaped("File 1", "TrashFolder"), TrashDir());
    EXPECT_EQ(unescaped("File 2", "Entry"), "plain.jpg");
    EXPECT_EQ(value("File 2", "Inode"), std::to_string(plain.facts.identity.inode));
    EXPECT_EQ(value("File 2", "Size"), std::to_string(plain.facts.size));
    EXPECT_NE(value("File 2", "ModificationTime"), "<missing>");
    const std::int64_t deleted = std::atoll(value("File 2", "DeletionTime").c_str());
    EXPECT_LE(std::llabs(deleted - CurrentTime()), 60);
    g_key_file_free(keys);

    // Read back by the program: the same files, the same entries.
    const auto record = LoadRecord(RecordsFolder(), outcome.recordId);
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->complete);
    EXPECT_EQ(record->startTime, start);
    ASSERT_EQ(record->files.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(record->files[i].path, outcome.movedFiles[i].path);
        EXPECT_EQ(record->files[i].entry.FilePath(), outcome.movedFiles[i].entry.FilePath());
        EXPECT_EQ(record->files[i].facts.identity, outcome.movedFiles[i].facts.identity);
        EXPECT_EQ(StateOf(record->files[i]), TrashedState::InTrash);
    }
}

// Records made within one second are numbered; they are listed in the order
// they were made also past the ninth, so the newest of equal blocks is found.
TEST(RecordIdsTest, AreListedInTheOrderTheyWereMade)
{
    const TempDir folder;
    std::vector<std::string> made = {"20261208T013509Z"};
    for (int n = 1; n <= 12; ++n)
        made.push_back("20261208T013510Z" + (n == 1 ? std::string() : "-" + std::to_string(n)));
    made.push_back("20261208T013511Z");
    for (const std::string& id : made)
        folder.WriteFile(id + ".record", "");
    EXPECT_EQ(ListRecordIds(folder.Path()), made);
}

// A deletion that moves nothing leaves neither a block nor a record, so the
// deletion before it can still be undone.
TEST_F(RecordTest, DeletionThatMovesNothingLeavesNoTrace)
{
    const ConfirmedFile first = Pic("a/x.jpg");
    ASSERT_EQ(Delete({first}).moved, 1);
    const std::string logBefore = ReadFile(log_);
    const std::vector<std::string> recordsBefore = FolderNames(RecordsFolder());

    ConfirmedFile stale = Pic("b/x.jpg");
    ASSERT_EQ(unlink(stale.path.c_str()), 0);
    ConfirmedFile changed = Pic("c/x.jpg");
    changed.facts.size += 1;
    const DeleteOutcome nothing = Delete({stale, changed});
    EXPECT_EQ(nothing.moved, 0);
    EXPECT_EQ(nothing.notMoved.size(), 2u);
    EXPECT_TRUE(nothing.recordId.empty());
    EXPECT_EQ(ReadFile(log_), logBefore);
    EXPECT_EQ(FolderNames(RecordsFolder()), recordsBefore);

    EXPECT_EQ(Statuses(RestoreLast()), std::vector<RestoreStatus>{RestoreStatus::Restored});
    EXPECT_EQ(ReadFile(first.path), "picture a/x.jpg");
}

// Another program trashes a new file at the same path after the deletion.
// The undo puts back Snapsift's own file and leaves the other one in the
// trash; without the record, the two cannot be told apart and neither moves.
struct OtherTool {
    const char* name;
    const char* command;  // given the path, quoted
};

class OtherProgramTest : public RecordTest, public ::testing::WithParamInterface<OtherTool> { };

TEST_P(OtherProgramTest, ItsFileAtTheSamePathIsNeverRestored)
{
    const OtherTool& tool = GetParam();
    const std::string program = std::string(tool.command).substr(0, std::string(tool.command).find(' '));
    if (std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << program << " is not installed";
    const ConfirmedFile x = Pic("x.jpg", "Snapsift's"), y = Pic("y.jpg", "Snapsift's too");
    const DeleteOutcome outcome = Delete({x, y});
    ASSERT_EQ(outcome.moved, 2);
    for (const ConfirmedFile& file : {x, y}) {
        std::ofstream(file.path, std::ios::binary) << "the other program's";
        ASSERT_EQ(std::system((std::string(tool.command) + " '" + file.path + "'").c_str()), 0) << tool.name;
        ASSERT_FALSE(Exists(file.path));
    }
    ASSERT_EQ(FolderNames(TrashDir() + "/files").size(), 4u);

    const std::vector<RestoreStatus> both(2, RestoreStatus::Restored);
    EXPECT_EQ(Statuses(RestoreLast()), both);
    EXPECT_EQ(ReadFile(x.path), "Snapsift's");
    EXPECT_EQ(ReadFile(y.path), "Snapsift's too");
    for (const std::string& name : FolderNames(TrashDir() + "/files"))
        EXPECT_EQ(ReadFile(TrashDir() + "/files/" + name), "the other program's") << name;

    // Deleted again; the other program trashes again; the record is lost.
    ASSERT_EQ(unlink(x.path.c_str()), 0);
    const ConfirmedFile again = Pic("x.jpg", "Snapsift's again");
    ASSERT_EQ(Delete({again}).moved, 1);
    std::ofstream(again.path, std::ios::binary) << "the other program's";
    ASSERT_EQ(std::system((std::string(tool.command) + " '" + again.path + "'").c_str()), 0);
    RemoveTree(RecordsFolder());
    const std::vector<RestoreResult> results = RestoreLast();
    EXPECT_EQ(Statuses(results), std::vector<RestoreStatus>{RestoreStatus::Ambiguous});
    EXPECT_FALSE(Exists(again.path));
}

const OtherTool kOtherTools[] = {
    {"GioTrash", "gio trash"},
    {"TrashPut", "trash-put"},
};

INSTANTIATE_TEST_SUITE_P(Tools, OtherProgramTest, ::testing::ValuesIn(kOtherTools),
                         [](const ::testing::TestParamInfo<OtherTool>& info) { return info.param.name; });

// London's clock goes back from 02:00 summer time to 01:00 on 2026-10-25.
// Another program trashed a file at 01:58:30 summer time, two and a half
// minutes before Snapsift's deletion at 01:01:00 winter time: by the local
// dates alone it looks the later one.
TEST_F(RecordTest, FallBackHourTakesTheRecordedEntry)
{
    const TimeZone london("Europe/London");
    const std::int64_t start = 1792890060;  // 2026-10-25 01:01:00 UTC, 01:01:00 winter time
    const ConfirmedFile x = Pic("x.jpg", "Snapsift's");
    const DeleteOutcome outcome = Delete({x}, start);
    ASSERT_EQ(outcome.moved, 1);
    std::ofstream(x.path, std::ios::binary) << "earlier, by another program";
    ASSERT_TRUE(MoveToTrash(x.path).ok);
    for (const std::string& name : FolderNames(TrashDir() + "/info")) {
        const std::string info = TrashDir() + "/info/" + name;
        std::string text = ReadFile(info);
        const std::size_t at = text.find("DeletionDate=");
        const bool ours = name == outcome.movedFiles[0].entry.name + ".trashinfo";
        text.replace(at + 13, 19, ours ? "2026-10-25T01:01:00" : "2026-10-25T01:58:30");
        std::ofstream(info, std::ios::binary | std::ios::trunc) << text;
    }

    EXPECT_EQ(Statuses(RestoreLast()), std::vector<RestoreStatus>{RestoreStatus::Restored});
    EXPECT_EQ(ReadFile(x.path), "Snapsift's");

    // Without the record both readings of the hour hold both entries: neither moves.
    ASSERT_EQ(unlink(x.path.c_str()), 0);
    const ConfirmedFile again = Pic("x.jpg", "Snapsift's again");
    const DeleteOutcome second = Delete({again}, start);
    ASSERT_EQ(second.moved, 1);
    RemoveTree(RecordsFolder());
    const std::string info = second.movedFiles[0].entry.InfoPath();
    std::string text = ReadFile(info);
    text.replace(text.find("DeletionDate=") + 13, 19, "2026-10-25T01:01:02");
    std::ofstream(info, std::ios::binary | std::ios::trunc) << text;
    EXPECT_EQ(Statuses(RestoreLast()), std::vector<RestoreStatus>{RestoreStatus::Ambiguous});
    EXPECT_FALSE(Exists(again.path));
}

// Deleted in Tokyo, undone in UTC: the dates of the trash look nine hours
// ahead, the record still finds its entries.
TEST_F(RecordTest, ChangeOfTimeZoneBetweenDeletionAndUndo)
{
    const ConfirmedFile x = Pic("x.jpg"), y = Pic("deep/y.jpg");
    ASSERT_EQ(Delete({x, y}).moved, 2);
    {
        const TimeZone utc("UTC");
        EXPECT_EQ(Statuses(RestoreLast()), std::vector<RestoreStatus>(2, RestoreStatus::Restored));
    }
    EXPECT_TRUE(Exists(x.path));
    EXPECT_TRUE(Exists(y.path));

    // Without the record the dates of the block and of the trash move alike.
    ASSERT_EQ(Delete({Pic("x.jpg"), Pic("deep/y.jpg")}).moved, 2);
    RemoveTree(RecordsFolder());
    const TimeZone utc("UTC");
    EXPECT_EQ(Statuses(RestoreLast()), std::vector<RestoreStatus>(2, RestoreStatus::Restored));
}

// A deletion killed at any point leaves its journal, flushed before the
// first move: every file that moved is found again, by the note of its move
// or, where the kill came before the note, by its identity, and comes back.
struct KillPoint {
    const char* name;
    bool afterMove;     // killed right after the move of file `at`, before its proof
    std::size_t at;     // 0-based
    std::size_t moved;  // files in the trash then
};

class KilledDeletionTest : public RecordTest, public ::testing::WithParamInterface<KillPoint> { };

TEST_P(KilledDeletionTest, JournalFindsEveryMovedFile)
{
    const KillPoint& kill = GetParam();
    std::vector<ConfirmedFile> files;
    for (int i = 0; i < 5; ++i)
        files.push_back(Pic("p" + std::to_string(i) + ".jpg"));
    files[1].facts.size += 1;  // changed since the search: stays
    const std::string killAt = files[kill.at].path;
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TrashHooks hooks;
        const auto die = [killAt](const std::string& path) {
            if (path == killAt)
                _exit(7);
        };
        (kill.afterMove ? hooks.afterMove : hooks.beforeMove) = die;
        NullProgress progress;
        DeleteConfirmed(files, progress, log_, CurrentTime(), hooks, std::chrono::milliseconds(200));
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
    EXPECT_EQ(ReadFile(log_), "") << "the block comes after the moves";
    ASSERT_EQ(FolderNames(TrashDir() + "/files").size(), kill.moved);

    const std::vector<std::string> ids = ListRecordIds(RecordsFolder());
    ASSERT_EQ(ids.size(), 1u);
    const auto record = LoadRecord(RecordsFolder(), ids[0]);
    ASSERT_TRUE(record);
    EXPECT_FALSE(record->complete);
    ASSERT_EQ(record->files.size(), kill.moved);
    NullProgress progress;
    EXPECT_EQ(Statuses(RestoreTrashed(record->files, progress)),
              std::vector<RestoreStatus>(kill.moved, RestoreStatus::Restored));
    for (const ConfirmedFile& file : files)
        EXPECT_TRUE(Exists(file.path)) << file.path;
    EXPECT_TRUE(FolderNames(TrashDir() + "/files").empty());
}

const KillPoint kKillPoints[] = {
    {"BeforeTheFirstMove", false, 0, 0},
    {"BeforeTheFourthFile", false, 3, 2},
    {"RightAfterTheFourthMove", true, 3, 3},
    {"RightAfterTheLastMove", true, 4, 4},
};

INSTANTIATE_TEST_SUITE_P(Points, KilledDeletionTest, ::testing::ValuesIn(kKillPoints),
                         [](const ::testing::TestParamInfo<KillPoint>& info) { return info.param.name; });

// The record cannot be begun (its folder is a file): nothing moves, the log
// is left as it was.
TEST_F(RecordTest, NoRecordMeansNothingMoves)
{
    const ConfirmedFile x = Pic("x.jpg");
    const std::string folder = RecordsFolder();
    RemoveTree(folder);
    ASSERT_EQ(g_mkdir_with_parents(folder.substr(0, folder.rfind('/')).c_str(), 0700), 0);
    std::ofstream(folder) << "in the way";
    const DeleteOutcome outcome = Delete({x});
    unlink(folder.c_str());
    EXPECT_EQ(outcome.stop, DeleteStop::NoRecord);
    EXPECT_FALSE(outcome.recordError.empty());
    EXPECT_EQ(outcome.moved, 0);
    EXPECT_TRUE(Exists(x.path));
    EXPECT_EQ(ReadFile(log_), "");
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// The real program with `args`, in this process's environment.
ProgramRun Snapsift(const std::vector<std::string>& args)
{
    TempDir io;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (io / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (io / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv = {const_cast<char*>(SNAPSIFT_BINARY)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    ProgramRun run;
    const int spawned = posix_spawn(&pid, SNAPSIFT_BINARY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    int status = 0;
    if (spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.out = ReadFile(io / "out");
    run.err = ReadFile(io / "err");
    return run;
}

// --history lists each recorded deletion with what is still in the trash;
// --restore ID puts back one whole deletion, whichever it is. Names holding
// a line end stay on one line, or keep their bytes with --null.
TEST_F(RecordTest, HistoryAndRestoreOfOneWholeDeletion)
{
    const ConfirmedFile lf = Pic("line\nfeed.jpg"), b = Pic("b.jpg"), c = Pic("c.jpg");
    const std::int64_t start = 1735657198;  // 2024-12-31 23:59:58 in Tokyo
    const DeleteOutcome first = Delete({lf, b}, start);
    const DeleteOutcome second = Delete({c}, start + 60);
    ASSERT_EQ(first.moved + second.moved, 3);
    const auto line = [&](const DeleteOutcome& o, const char* when, int moved, int inTrash) {
        return o.recordId + "\t" + when + "\t" + std::to_string(moved) + " moved\t" + std::to_string(inTrash) +
               " in the trash\t" + log_;
    };

    ProgramRun run = Snapsift({"--history"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              line(first, "2024-12-31 23:59:58", 2, 2) + "\n" + line(second, "2025-01-01 00:00:58", 1, 1) + "\n");

    run = Snapsift({"--restore", first.recordId});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "restored: " + VisibleControls(lf.path) + "\nrestored: " + b.path + "\n2 of 2 files restored\n");
    EXPECT_NE(run.out.find("line\u240afeed.jpg"), std::string::npos);
    EXPECT_TRUE(Exists(lf.path));
    EXPECT_FALSE(Exists(c.path));

    run = Snapsift({"--history", "--null"});
    EXPECT_EQ(run.out,
              line(first, "2024-12-31 23:59:58", 2, 0) + '\0' + line(second, "2025-01-01 00:00:58", 1, 1) + '\0');
    run = Snapsift({"--restore", first.recordId, "--null"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.substr(0, run.out.find('\0')), "not restored: " + lf.path + ": not found in the trash");

    // The last block is the second deletion's.
    run = Snapsift({"--restore-last", "--log", log_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "restored: " + c.path + "\n1 of 1 files restored\n");

    for (const std::string& bad : {std::string("20000101T000000Z"), std::string("../records")}) {
        run = Snapsift({"--restore", bad});
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

// A btrfs image with a subvolume: files in the subvolume go to its own
// .Trash-UID, which is not at a mount point and which no list of mounts
// names. The record finds them all the same.
TEST_F(RecordTest, SubvolumeTrashIsFoundThroughTheRecord)
{
    if (!g_mountRefusal.empty())
        GTEST_SKIP() << "no mount of our own: " << g_mountRefusal;
    TempDir folder;
    const std::string image = folder / "btrfs.img", top = folder.MakeFolder("top");
    const std::string make = "PATH=\"$PATH:/sbin:/usr/sbin\"; truncate -s 256M '" + image + "' && mkfs.btrfs -q -f '" +
                             image + "' >/dev/null 2>&1 && mount -o loop '" + image + "' '" + top +
                             "' 2>/dev/null && btrfs -q subvolume create '" + top + "/sub' >/dev/null";
    if (std::system(make.c_str()) != 0) {
        umount2(top.c_str(), MNT_DETACH);
        GTEST_SKIP() << "mkfs.btrfs, mount -o loop or btrfs subvolume create failed";
    }
    const std::string path = top + "/sub/DCIM/100CANON/IMG_0001.JPG";
    ASSERT_EQ(g_mkdir_with_parents((top + "/sub/DCIM/100CANON").c_str(), 0755), 0);
    std::ofstream(path, std::ios::binary) << "a picture in a subvolume";
    const auto facts = StatRegularFile(path);
    ASSERT_TRUE(facts);
    const DeleteOutcome outcome = Delete({{path, *facts}});
    ASSERT_EQ(outcome.moved, 1) << (outcome.notMoved.empty() ? "" : outcome.notMoved[0].error);
    EXPECT_EQ(outcome.movedFiles[0].entry.folder, top + "/sub/.Trash-" + std::to_string(getuid()));

    const std::vector<RestoreResult> results = RestoreLast();
    EXPECT_EQ(Statuses(results), std::vector<RestoreStatus>{RestoreStatus::Restored});
    EXPECT_EQ(ReadFile(path), "a picture in a subvolume");
    umount2(top.c_str(), MNT_DETACH);
}

// Records are read as untrusted: a link, another user's file or an entry
// name that leaves its folder is not taken, and an entry that is not the
// file that was moved (two entries swapped) stays in the trash.
TEST_F(RecordTest, PlantedAndAlteredRecordsAreNotTrusted)
{
    const ConfirmedFile a = Pic("a.jpg", "a's"), b = Pic("b.jpg", "b's");
    const DeleteOutcome outcome = Delete({a, b});
    ASSERT_EQ(outcome.moved, 2);
    const std::string folder = RecordsFolder();
    const std::string record = folder + "/" + outcome.recordId + ".record";
    const std::string text = ReadFile(record);

    // The two entries swapped: each file would land at the other's path.
    std::string swapped = text;
    const std::string entryA = "Entry=a.jpg\n", entryB = "Entry=b.jpg\n";
    ASSERT_NE(swapped.find(entryA), std::string::npos) << text;
    swapped.replace(swapped.find(entryA), entryA.size(), "Entry=b.jpX\n");
    swapped.replace(swapped.find(entryB), entryB.size(), entryA);
    swapped.replace(swapped.find("Entry=b.jpX\n"), entryA.size(), entryB);
    std::ofstream(record, std::ios::binary | std::ios::trunc) << swapped;
    const auto altered = LoadRecord(folder, outcome.recordId);
    ASSERT_TRUE(altered);
    NullProgress progress;
    EXPECT_EQ(Statuses(RestoreTrashed(altered->files, progress)),
              std::vector<RestoreStatus>(2, RestoreStatus::EntryChanged));
    EXPECT_FALSE(Exists(a.path));
    EXPECT_FALSE(Exists(b.path));

    // An entry name that climbs out of files/ is dropped.
    std::string climbing = text;
    climbing.replace(climbing.find(entryA), entryA.size(), "Entry=..%2F..%2Fa.jpg\n");
    std::ofstream(record, std::ios::binary | std::ios::trunc) << climbing;
    const auto dropped = LoadRecord(folder, outcome.recordId);
    ASSERT_TRUE(dropped);
    ASSERT_EQ(dropped->files.size(), 1u);
    EXPECT_EQ(dropped->files[0].path, b.path);

    // Another user's record, and a link in a record's place, are not read.
    std::ofstream(record, std::ios::binary | std::ios::trunc) << text;
    if (geteuid() == 0) {
        ASSERT_EQ(chown(record.c_str(), 4242, 4242), 0);
        EXPECT_FALSE(LoadRecord(folder, outcome.recordId));
        ASSERT_EQ(chown(record.c_str(), 0, 0), 0);
    }
    const std::string aside = tree_.WriteFile("aside.record", text);
    ASSERT_EQ(symlink(aside.c_str(), (folder + "/20000101T000000Z.record").c_str()), 0);
    EXPECT_FALSE(LoadRecord(folder, "20000101T000000Z"));
    EXPECT_EQ(ListRecordIds(folder), std::vector<std::string>{outcome.recordId});

    // The record as written still puts both back.
    const auto intact = LoadRecord(folder, outcome.recordId);
    ASSERT_TRUE(intact);
    EXPECT_EQ(Statuses(RestoreTrashed(intact->files, progress)),
              std::vector<RestoreStatus>(2, RestoreStatus::Restored));
    EXPECT_EQ(ReadFile(a.path), "a's");
    EXPECT_EQ(ReadFile(b.path), "b's");
}

}  // namespace
}  // namespace snapsift
