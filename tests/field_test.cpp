// SPDX-License-Identifier: MIT
// The trash on the disks people keep pictures on, each made for real in the
// test's own mount namespace: camera cards (FAT32 through fusefat, exFAT
// through exfat-fuse), a btrfs subvolume and a writable snapshot, xfs, and
// ext4 with its own .Trash-UID or a shared sticky .Trash. On each: delete as
// the window does, undo as the window does, delete again and undo with the
// real program's --restore-last; other clients of the trash (trash-cli, GIO)
// must read what was written. Then trash folders that are not the user's
// alone, and the order of flushes and moves that makes a deletion survive a
// crash.
#include "delete/delete_selected.h"
#include "delete/restore_last.h"
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

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace snapsift::testing {
namespace {

constexpr int kProgramSeconds = 120;

// Searches `top` for JPEG files and lists every row.
void SearchAll(ResultView& view, const std::string& top)
{
    view.ClearResults();
    SearchOptions options;
    options.m_bJpeg = true;
    NullProgress none;
    ASSERT_EQ(ScanFolder(top, options, view.table, none).refusal, SearchRefusal::None);
    view.FillResultView();  // lists every row
    ASSERT_GT(view.list.GetItemCount(), 0) << "nothing found below " << top;
}

std::vector<int> RowsOf(const ResultView& view, const std::vector<std::string>& paths)
{
    std::vector<int> rows;
    for (int j = 0; j < view.list.GetItemCount(); ++j) {
        if (std::find(paths.begin(), paths.end(), view.table.Path(view.list.TableRow(j))) != paths.end())
            rows.push_back(j);
    }
    return rows;
}

std::string Reasons(const DeleteOutcome& outcome)
{
    std::string text;
    for (const NotMoved& n : outcome.notMoved)
        text += n.path + ": " + std::to_string(static_cast<int>(n.reason)) + " " + n.error + "\n";
    return text;
}

// A camera card: three pictures to delete, and the same names in a second
// folder, which stay.
struct Card {
    std::vector<std::string> deleted;
    std::vector<std::string> kept;
    std::map<std::string, std::string> content;

    explicit Card(const std::string& top)
    {
        for (const char* name : {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG"}) {
            kept.push_back(top + "/DCIM/101CANON/" + name);
            deleted.push_back(top + "/DCIM/100CANON/" + name);
        }
        for (const auto* list : {&kept, &deleted}) {
            for (const std::string& path : *list) {
                content[path] = "picture at " + path;
                WriteFileMakingFolders(path, content[path]);
            }
        }
    }
    void ExpectAllInPlace() const
    {
        for (const auto& [path, text] : content)
            EXPECT_EQ(ReadFile(path), text) << path;
    }
};

// The window's delete button on the card's pictures, confirmed.
DeleteOutcome DeleteAsTheWindowDoes(const Card& card, const std::string& top, const std::string& log)
{
    ResultView view;
    SearchAll(view, top);
    RecordingMessenger messenger;
    NullProgress progress;
    const std::vector<int> rows = RowsOf(view, card.deleted);
    EXPECT_EQ(rows.size(), card.deleted.size());
    return DeleteWithConfirmation(view, rows, messenger, progress, log, CurrentTime());
}

// Each file of the card went to `trash`, with an entry naming where it was.
void ExpectInTrash(const DeleteOutcome& outcome, const Card& card, const FieldDisk& disk)
{
    ASSERT_EQ(outcome.moved, static_cast<int>(card.deleted.size())) << Reasons(outcome);
    ASSERT_EQ(outcome.movedFiles.size(), card.deleted.size());
    for (const TrashedFile& m : outcome.movedFiles) {
        EXPECT_FALSE(Exists(m.path)) << m.path;
        EXPECT_EQ(m.entry.folder, disk.trash);
        EXPECT_EQ(ReadFile(m.entry.FilePath()), card.content.at(m.path));
        const std::string info = ReadFile(m.entry.InfoPath());
        EXPECT_NE(info.find("\nPath=" + m.path.substr(disk.top.size() + 1) + "\n"), std::string::npos) << info;
    }
}

const std::vector<TrashedFile>& AsTrashed(const DeleteOutcome& outcome)
{
    return outcome.movedFiles;
}

class FieldTest : public ::testing::TestWithParam<FieldSetUp> {
protected:
    TempDir logs_;
    std::string log_ = logs_.MakeFolder("logs") + "/DeleteLog.log";
};

TEST_P(FieldTest, DeleteUndoDeleteAndRestoreLast)
{
    FieldDisk disk(GetParam());
    if (!disk.skip.empty())
        GTEST_SKIP() << disk.skip;
    const Card card(disk.top);

    // Delete in the window, undo in the window.
    const DeleteOutcome first = DeleteAsTheWindowDoes(card, disk.top, log_);
    ExpectInTrash(first, card, disk);
    NullProgress progress;
    for (const RestoreResult& r : RestoreTrashed(AsTrashed(first), progress))
        EXPECT_EQ(r.status, RestoreStatus::Restored) << r.path << ": " << r.error;
    card.ExpectAllInPlace();
    for (const TrashedFile& m : first.movedFiles) {
        EXPECT_FALSE(Exists(m.entry.FilePath()));
        EXPECT_FALSE(Exists(m.entry.InfoPath()));
    }

    // Delete again, and undo with the program's own command line.
    const DeleteOutcome second = DeleteAsTheWindowDoes(card, disk.top, log_);
    ExpectInTrash(second, card, disk);
    const ProgramRun run = RunProgram({SNAPSIFT_BINARY, "--restore-last", "--log", log_}, kProgramSeconds);
    // A subvolume's trash is at no mount point: the deletion's record leads
    // the command line to it.
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("3 of 3 files restored"), std::string::npos) << run.out << run.err;
    card.ExpectAllInPlace();
    for (const TrashedFile& m : second.movedFiles)
        EXPECT_FALSE(Exists(m.entry.InfoPath()));
}

// trash-cli and GIO (through gvfs) list the entries, with their original paths.
TEST_P(FieldTest, OtherClientsReadTheEntries)
{
    if (!GetParam().atMountPoint)
        GTEST_SKIP() << "trash-list and GIO look for trash folders only at mount points, and a btrfs subvolume is none";
    FieldDisk disk(GetParam());
    if (!disk.skip.empty())
        GTEST_SKIP() << disk.skip;
    const Card card(disk.top);
    const DeleteOutcome outcome = DeleteAsTheWindowDoes(card, disk.top, log_);
    ExpectInTrash(outcome, card, disk);
    struct Cleanup {
        const DeleteOutcome& outcome;
        ~Cleanup()
        {
            NullProgress none;
            RestoreTrashed(AsTrashed(outcome), none);
        }
    } cleanup{outcome};

    const ProgramRun list = RunProgram({"/usr/bin/trash-list"}, kProgramSeconds);
    if (list.status == 127)
        GTEST_SKIP() << "trash-cli is not installed";
    for (const std::string& path : card.deleted)
        EXPECT_NE(list.out.find(" " + path + "\n"), std::string::npos) << list.out << list.err;

    const ProgramRun gio =
        RunProgram({"/usr/bin/dbus-run-session", "--", "/usr/bin/gio", "trash", "--list"}, kProgramSeconds);
    if (gio.status != 0 && gio.err.find("not supported") != std::string::npos)
        GTEST_SKIP() << "gio trash --list needs gvfs: " << gio.err;
    ASSERT_EQ(gio.status, 0) << gio.err;
    for (const std::string& path : card.deleted)
        EXPECT_NE(gio.out.find("\t" + path + "\n"), std::string::npos) << gio.out << gio.err;
}

INSTANTIATE_TEST_SUITE_P(Disks, FieldTest, ::testing::ValuesIn(FieldSetUps()),
                         [](const ::testing::TestParamInfo<FieldSetUp>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace snapsift::testing
