// SPDX-License-Identifier: MIT
// The delete command end to end: real folders searched by the real scan, a
// real trash under a temporary XDG_DATA_HOME, and the deletion log on disk.
#include "delete/delete_selected.h"
#include "delete/deletion_log.h"
#include "delete/deletion_record.h"
#include "delete/restore_last.h"
#include "platform/local_time.h"
#include "platform/trash.h"
#include "platform/user_desktop.h"
#include "review/result_view.h"
#include "scan/folder_scan.h"
#include "support/gio_trash.h"
#include "support/scoped_env.h"
#include "support/table_rows.h"
#include "support/temp_tree.h"
#include "support/temporary_home.h"
#include "ui/delete_conversation.h"
#include "ui/window_texts.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sched.h>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace snapsift {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::RecordingMessenger;
using testing::RecordingProgress;
using testing::RemoveTree;
using testing::TempDir;
using testing::TimeZone;
using testing::TrashDir;

// A temporary home with the trash, for the whole program; and why this
// process cannot mount file systems of its own (empty when it can).
const std::string& g_mountRefusal = testing::UseTemporaryHome();

std::string FallbackLog()
{
    return std::string(std::getenv("XDG_STATE_HOME")) + "/snapsift/DeleteLog.log";
}

// A .trashinfo Path= value unescaped, as the trash itself does it.
std::string PercentDecode(const std::string& text)
{
    gchar* raw = g_uri_unescape_string(text.c_str(), nullptr);
    std::string out = raw ? raw : "";
    g_free(raw);
    return out;
}

// What the trash holds: original path -> content of the trashed copy.
std::map<std::string, std::string> Trashed()
{
    std::map<std::string, std::string> out;
    const std::string trash = TrashDir();
    DIR* dir = opendir((trash + "/info").c_str());
    if (!dir)
        return out;
    const std::string suffix = ".trashinfo";
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string info = ReadFile(trash + "/info/" + name);
        const std::size_t at = info.find("\nPath=");
        if (at == std::string::npos)
            continue;
        const std::size_t start = at + 6;
        const std::string path = PercentDecode(info.substr(start, info.find('\n', start) - start));
        out[path] = ReadFile(trash + "/files/" + name.substr(0, name.size() - suffix.size()));
    }
    closedir(dir);
    return out;
}

constexpr std::int64_t kStart = 931133103;  // 1999-07-05 09:05:03 in Tokyo
const char* const kStartText = "1999年07月05日 09時05分03秒";

// Each reading is ten minutes after the one before: only the first may reach
// the log.
int g_clockReadings = 0;
std::int64_t SteppingClock()
{
    return kStart + 600 * g_clockReadings++;
}

std::int64_t LaterClock()
{
    return 1735657198;  // 2024-12-31 23:59:58 in Tokyo
}

std::string Block(const std::string& when, const std::vector<std::string>& paths)
{
    std::string block =
        "## このファイルは不必要ならば削除しても構いません ##\r\n" + when + " に削除したファイルを列挙\r\n";
    for (const std::string& path : paths)
        block += path + "\r\n";
    return block;
}

// Undoes a change of the process's current folder.
class CurrentFolder final {
public:
    explicit CurrentFolder(const std::string& path)
    {
        char buffer[4096];
        saved_ = getcwd(buffer, sizeof buffer) ? buffer : "/";
        ok_ = chdir(path.c_str()) == 0;
    }
    ~CurrentFolder() { (void)!chdir(saved_.c_str()); }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;
    bool ok() const { return ok_; }

private:
    std::string saved_;
    bool ok_ = false;
};

class DeleteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveTree(TrashDir());
        g_clockReadings = 0;
    }

    // Nothing is ever deleted outright: every file made is where it was, as
    // the test left it, or in the trash with its content.
    void TearDown() override
    {
        const auto trashed = Trashed();
        for (const auto& [path, content] : made_) {
            if (Exists(path)) {
                EXPECT_EQ(ReadFile(path), content) << path;
                continue;
            }
            const auto it = trashed.find(path);
            if (it == trashed.end())
                ADD_FAILURE() << "lost: " << path;
            else
                EXPECT_EQ(it->second, content) << path;
        }
    }

    std::string Pic(const std::string& relative, const TempDir* in = nullptr)
    {
        const TempDir& base = in ? *in : tree_;
        const std::string content = "picture " + relative;
        const std::string path = base.WriteFile("pics/" + relative, content);
        made_[path] = content;
        return path;
    }
    // Rewrites a file after the search, with a different size.
    void Rewrite(const std::string& path, const std::string& content)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        made_[path] = content;
    }

    void Scan(const TempDir* in = nullptr)
    {
        SearchOptions options;
        options.m_bJpeg = true;
        NullProgress none;
        ASSERT_EQ(ScanFolder((in ? *in : tree_) / "pics", options, view_.table, none).refusal, SearchRefusal::None);
        view_.FillResultView();
        selection_.clear();  // a list shown anew has nothing selected, as in the window
    }

    void ChooseName(const std::string& name)
    {
        const auto& entries = view_.combo.Entries();
        const auto it = std::find(entries.begin(), entries.end(), ComboEntry::Named(name));
        ASSERT_NE(it, entries.end()) << name;
        view_.combo.SetCurSel(static_cast<int>(it - entries.begin()));
        view_.ShowSelectedDuplicates();
        selection_.clear();
    }

    std::vector<std::string> ListPaths() const
    {
        std::vector<std::string> paths;
        for (int j = 0; j < view_.list.GetItemCount(); ++j)
            paths.push_back(view_.table.Path(view_.list.TableRow(j)));
        return paths;
    }

    void Select(const std::vector<std::string>& paths)
    {
        const std::vector<std::string> shown = ListPaths();
        for (const std::string& path : paths) {
            const auto it = std::find(shown.begin(), shown.end(), path);
            ASSERT_NE(it, shown.end()) << path;
            selection_.insert(static_cast<int>(it - shown.begin()));
        }
    }

    std::vector<std::string> SelectedPaths() const
    {
        std::vector<std::string> paths;
        for (int j : SelectedRows())
            paths.push_back(view_.table.Path(view_.list.TableRow(j)));
        return paths;
    }

    // The list's paths in byte order, for rows whose order is the scan's.
    std::vector<std::string> SortedListPaths() const
    {
        std::vector<std::string> paths = ListPaths();
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    std::vector<int> SelectedRows() const { return {selection_.begin(), selection_.end()}; }

    // The delete button's conversation, as the window holds it: confirm the
    // selection, delete and say what was not moved.
    void Delete(std::int64_t (*clock)() = SteppingClock, const std::string& logPath = "")
    {
        outcome_ = DeleteWithConfirmation(view_, SelectedRows(), messenger_, progress_,
                                          logPath.empty() ? log_ : logPath, clock(), hooks_, nullptr, patience_);
        if (outcome_.confirmed && outcome_.stop == DeleteStop::None)
            selection_.clear();  // the list was shown anew
    }

    void ExpectMessage(std::size_t index, const std::string& text, MessageButtons buttons) const
    {
        ASSERT_GT(messenger_.shown.size(), index);
        const MessageRequest& r = messenger_.shown[index];
        EXPECT_EQ(r.text, text);
        EXPECT_EQ(r.caption, "確認");
        EXPECT_EQ(r.buttons, buttons);
        EXPECT_EQ(r.icon, MessageIcon::None);
    }

    static std::string Confirmation(const std::vector<std::string>& paths)
    {
        std::string text;
        for (std::size_t i = 0; i < paths.size() && i < 15; ++i)
            text += paths[i] + "\n";
        if (paths.size() >= 16)
            text += "等の選択されたファイル(他は DeleteLog.log 参照)\n";
        return text + "をごみ箱に移動してよろしいですか？";
    }

    TempDir tree_;
    std::string log_ = tree_.MakeFolder("logs") + "/DeleteLog.log";
    std::unique_ptr<TempDir> other_;  // a second tree, on another file system
    std::map<std::string, std::string> made_;
    ResultView view_;
    std::set<int> selection_;  // the list rows selected, as the window keeps them
    RecordingMessenger messenger_;
    RecordingProgress progress_;
    DeleteOutcome outcome_;
    TrashHooks hooks_;                                                     // what another process does around each move
    std::chrono::milliseconds patience_ = std::chrono::milliseconds(200);  // for a locked log
};

TEST_F(DeleteTest, MovesToTrashLogsAndRebuildsTheList)
{
    const std::string aDup = Pic("a/dup.jpg"), bDup = Pic("b/dup.jpg"), cDup = Pic("c/dup.jpg");
    const std::string aOther = Pic("a/other.jpg"), bOther = Pic("b/other.jpg");
    const std::string single = Pic("single.jpg");
    Scan();
    ASSERT_EQ(view_.table.RowCount(), 6);
    const std::vector<std::string> tableBefore = testing::TablePaths(view_.table);

    // Right after the search the prompt is chosen and every row is shown.
    Select({single, aDup, bOther});
    const std::vector<std::string> selected = SelectedPaths();  // in list order
    ASSERT_EQ(selected.size(), 3u);
    Delete();

    ASSERT_EQ(messenger_.shown.size(), 1u);
    ExpectMessage(0, Confirmation(selected), MessageButtons::OkCancel);
    const auto trashed = Trashed();
    EXPECT_EQ(trashed.size(), 3u);
    for (const std::string& path : selected) {
        EXPECT_FALSE(Exists(path)) << path;
        EXPECT_EQ(trashed.count(path), 1u) << path;
    }
    EXPECT_TRUE(Exists(TrashDir() + "/files/single.jpg"));
    EXPECT_TRUE(Exists(TrashDir() + "/info/single.jpg.trashinfo"));
    // Line 2 carries the time the command started, before the confirmation.
    EXPECT_EQ(ReadFile(log_), Block(kStartText, selected));
    std::vector<std::string> remaining;
    for (const std::string& path : tableBefore) {
        if (std::find(selected.begin(), selected.end(), path) == selected.end())
            remaining.push_back(path);
    }
    EXPECT_EQ(testing::TablePaths(view_.table), remaining);
    EXPECT_EQ(view_.list.GetItemCount(), 0);  // the prompt names no file
    ASSERT_FALSE(progress_.ops.empty());
    EXPECT_EQ(progress_.ops.back(), "pos 0");  // the bar is back at its start

    // A second deletion with a name chosen: the block follows the old one and
    // the list shows what is left of that name.
    ChooseName("dup.jpg");
    EXPECT_EQ(SortedListPaths(), (std::vector<std::string>{bDup, cDup}));
    Select({bDup});
    Delete(LaterClock);
    EXPECT_EQ(ReadFile(log_), Block(kStartText, selected) + Block("2024年12月31日 23時59分58秒", {bDup}));
    EXPECT_EQ(ListPaths(), (std::vector<std::string>{cDup}));
    EXPECT_TRUE(SelectedRows().empty());
    EXPECT_EQ(view_.table.RowCount(), 2);
    EXPECT_EQ(Trashed().count(bDup), 1u);
}

TEST_F(DeleteTest, LineBreaksAndPercentSignsInPathsAreLoggedEscaped)
{
    const std::string cr = Pic("line\rbreak.jpg");
    const std::string lf = Pic("new\nline.jpg");
    // Spelled like the escape of the name above: the two lines must differ.
    const std::string literal = Pic("new%0Aline.jpg");
    const std::string percent = Pic("100%.jpg");
    Scan();
    Select({cr, lf, literal, percent});
    Delete();
    const std::string folder = tree_ / "pics/";
    EXPECT_EQ(ReadFile(log_), Block(kStartText, {folder + "100%25.jpg", folder + "line%0Dbreak.jpg",
                                                 folder + "new%0Aline.jpg", folder + "new%250Aline.jpg"}));
    EXPECT_EQ(Trashed().size(), 4u);
}

// Selects `count` rows with an unselected row before, between and after them.
class ConfirmationTest : public DeleteTest, public ::testing::WithParamInterface<int> { };

TEST_P(ConfirmationTest, ShowsAtMostFifteenPathsAndLogsAll)
{
    const int count = GetParam();
    for (int i = 0; i < 2 * count + 1; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "p%03d.jpg", i);
        Pic(name);
    }
    Scan();
    std::vector<std::string> selected;
    const std::vector<std::string> shown = ListPaths();
    for (int j = 1; j < 2 * count; j += 2) {
        selection_.insert(j);
        selected.push_back(shown[static_cast<std::size_t>(j)]);
    }
    Delete();

    ASSERT_EQ(messenger_.shown.size(), 1u);
    ExpectMessage(0, Confirmation(selected), MessageButtons::OkCancel);
    const std::string& text = messenger_.shown[0].text;
    const std::size_t note = text.find("等の選択されたファイル");
    EXPECT_EQ(note != std::string::npos, count >= 16);
    if (note != std::string::npos) {
        EXPECT_EQ(text.find("等の選択されたファイル", note + 1), std::string::npos);
    }

    EXPECT_EQ(ReadFile(log_), Block(kStartText, selected));
    EXPECT_EQ(Trashed().size(), static_cast<std::size_t>(count));
    EXPECT_EQ(view_.table.RowCount(), count + 1);
    EXPECT_EQ(outcome_.moved, count);
}

INSTANTIATE_TEST_SUITE_P(Counts, ConfirmationTest, ::testing::Values(1, 15, 16, 40));

TEST_F(DeleteTest, NothingSelectedSaysSoAndTouchesNothing)
{
    Pic("a/x.jpg");
    Pic("b/x.jpg");
    Scan();
    Delete();
    ASSERT_EQ(messenger_.shown.size(), 1u);
    ExpectMessage(0, "削除アイテムが選択されていません", MessageButtons::Ok);
    EXPECT_FALSE(Exists(log_));
    EXPECT_TRUE(progress_.ops.empty());
    EXPECT_EQ(view_.list.GetItemCount(), 2);
}

TEST_F(DeleteTest, CancelChangesNothing)
{
    const std::string a = Pic("a/x.jpg");
    Pic("b/x.jpg");
    Scan();
    Select({a});
    const std::vector<std::string> table = testing::TablePaths(view_.table);
    const std::vector<std::string> shown = ListPaths();
    const std::vector<int> selected = SelectedRows();
    messenger_.answers = {MessageAnswer::Cancel};
    Delete();
    EXPECT_EQ(messenger_.shown.size(), 1u);
    EXPECT_FALSE(Exists(log_));
    EXPECT_TRUE(Trashed().empty());
    EXPECT_EQ(testing::TablePaths(view_.table), table);
    EXPECT_EQ(ListPaths(), shown);
    EXPECT_EQ(SelectedRows(), selected);
    EXPECT_TRUE(progress_.ops.empty());
}

// The log cannot be opened: the block goes to the fallback log, the files are
// moved all the same and the user is told where the record is. The log goes to
// the current folder, which is made read-only; root writes there regardless,
// so for root a folder stands under the log's name instead.
TEST_F(DeleteTest, LogThatCannotBeOpenedDoesNotStopTheMove)
{
    const std::string a = Pic("a/x.jpg"), b = Pic("b/x.jpg");
    Scan();
    Select({a});
    const std::string logs = tree_ / "logs";
    const bool root = geteuid() == 0;
    ASSERT_EQ(root ? mkdir(log_.c_str(), 0755) : chmod(logs.c_str(), 0555), 0);
    {
        const CurrentFolder here(logs);
        ASSERT_TRUE(here.ok());
        Delete(SteppingClock, "DeleteLog.log");
    }
    chmod(logs.c_str(), 0755);
    ASSERT_EQ(messenger_.shown.size(), 2u);
    ExpectMessage(
        1, "削除ログ(DeleteLog.log)を開けませんでした。\n削除の記録は次のファイルに書きました。\n" + FallbackLog(),
        MessageButtons::Ok);
    EXPECT_EQ(Exists(log_), root);
    EXPECT_EQ(Trashed().count(a), 1u);
    EXPECT_EQ(testing::TablePaths(view_.table), (std::vector<std::string>{b}));
}

TEST_F(DeleteTest, LogIsNeverWrittenThroughALink)
{
    const std::string a = Pic("a/x.jpg");
    Pic("b/x.jpg");
    Scan();
    Select({a});
    const std::string other = tree_.WriteFile("logs/other.txt", "keep me\r\n");
    ASSERT_EQ(symlink(other.c_str(), log_.c_str()), 0);
    Delete();
    EXPECT_EQ(ReadFile(other), "keep me\r\n");
    struct stat st { };
    ASSERT_EQ(lstat(log_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(messenger_.shown.size(), 2u);
    EXPECT_EQ(outcome_.logPath, FallbackLog());
    EXPECT_EQ(Trashed().count(a), 1u);
}

// Restores the file-size limit when it ends.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        struct rlimit small = saved_;
        small.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok() const { return ok_; }

private:
    struct rlimit saved_ { };
    bool ok_ = false;
};

TEST_F(DeleteTest, LogWriteFailureMovesNothing)
{
    const std::string a = Pic("a/x.jpg");
    Pic("b/x.jpg");
    Scan();
    Select({a});
    const std::string old = Block("2001年01月01日 00時00分00秒", {"/old/x.jpg"});
    tree_.WriteFile("logs/DeleteLog.log", old);
    const std::vector<std::string> table = testing::TablePaths(view_.table);
    const std::vector<int> selected = SelectedRows();
    {
        // Room for a few bytes of the new block, not for all of it.
        const FileSizeLimit limit(old.size() + 8);
        ASSERT_TRUE(limit.ok());
        Delete();
    }
    // Neither log takes the block: the message says so for each.
    ASSERT_EQ(messenger_.shown.size(), 2u);
    ExpectMessage(1,
                  "削除ログ(DeleteLog.log)を書き込めませんでした。\nファイルは移動していません。\n"
                  "DeleteLog.log: 書き込めませんでした\n" +
                      FallbackLog() + ": 書き込めませんでした",
                  MessageButtons::Ok);
    EXPECT_EQ(ReadFile(log_), old);
    EXPECT_TRUE(Trashed().empty());
    EXPECT_TRUE(Exists(a));
    EXPECT_EQ(testing::TablePaths(view_.table), table);
    EXPECT_EQ(SelectedRows(), selected);
    EXPECT_TRUE(progress_.ops.empty());
}

// The deletion's record cannot be begun (a file stands where its folder
// goes): nothing moves, no block is written, and the message says why.
TEST_F(DeleteTest, RecordThatCannotBeBegunMovesNothing)
{
    const std::string a = Pic("a/x.jpg");
    Pic("b/x.jpg");
    Scan();
    Select({a});
    const std::string records = RecordsFolder();
    RemoveTree(records);
    ASSERT_EQ(g_mkdir_with_parents(records.substr(0, records.rfind('/')).c_str(), 0700), 0);
    std::ofstream(records) << "in the way";
    Delete();
    unlink(records.c_str());
    ASSERT_EQ(messenger_.shown.size(), 2u);
    const std::string& text = messenger_.shown[1].text;
    EXPECT_EQ(text.rfind(std::string(kRecordNotBegunText) + "\n" + records, 0), 0u) << text;
    EXPECT_TRUE(Exists(a));
    EXPECT_EQ(ReadFile(log_), "");
    EXPECT_EQ(view_.table.RowCount(), 2);
}

TEST_F(DeleteTest, FileTheTrashRefusesKeepsItsRow)
{
    struct stat st { };
    if (stat("/dev/shm", &st) != 0 || !S_ISDIR(st.st_mode) || access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no writable /dev/shm";
    other_ = std::make_unique<TempDir>("/dev/shm");
    const std::string a = Pic("a/dup.jpg", other_.get()), b = Pic("b/dup.jpg", other_.get());
    Scan(other_.get());
    ChooseName("dup.jpg");
    Select({a});
    Delete();

    ASSERT_EQ(messenger_.shown.size(), 2u);
    // The reason carries GIO's own words after the fixed text.
    const std::string head = "次のファイルはごみ箱に移動できませんでした。\n" + a + " （" + kRefusedReasonText;
    const std::string& text = messenger_.shown[1].text;
    EXPECT_EQ(text.rfind(head, 0), 0u) << text;
    EXPECT_GT(text.size(), head.size() + std::string("）\n").size()) << text;
    EXPECT_EQ(text.substr(text.size() - 4), "）\n");
    EXPECT_TRUE(Exists(a));
    EXPECT_EQ(view_.table.RowCount(), 2);
    EXPECT_EQ(SortedListPaths(), (std::vector<std::string>{a, b}));
    // Nothing moved: no block and no record.
    EXPECT_EQ(ReadFile(log_), "");
    EXPECT_TRUE(outcome_.recordId.empty());
    ASSERT_FALSE(progress_.ops.empty());
    EXPECT_EQ(progress_.ops.back(), "pos 0");
}

TEST_F(DeleteTest, FilesChangedSinceTheSearchAreNotMoved)
{
    const std::string grown = Pic("grown.jpg"), keep = Pic("keep.jpg"), replaced = Pic("replaced.jpg");
    const std::string gone = Pic("gone.jpg");
    Scan();
    Rewrite(grown, ReadFile(grown) + " and more");
    ASSERT_EQ(unlink(replaced.c_str()), 0);
    Rewrite(replaced, "new");
    ASSERT_EQ(unlink(gone.c_str()), 0);
    made_.erase(gone);  // removed by the test, not by the command
    Select({gone, grown, keep, replaced});
    Delete();

    ASSERT_EQ(messenger_.shown.size(), 2u);
    const std::string changed = std::string(" （") + kChangedReasonText + "）\n";
    ExpectMessage(1,
                  "次のファイルはごみ箱に移動できませんでした。\n" + gone + " （" + kGoneReasonText + "）\n" + grown +
                      changed + replaced + changed,
                  MessageButtons::Ok);
    EXPECT_EQ(Trashed().size(), 1u);
    EXPECT_EQ(Trashed().count(keep), 1u);
    EXPECT_EQ(testing::TablePaths(view_.table), (std::vector<std::string>{gone, grown, replaced}));
    // The outcome the message is made of.
    EXPECT_EQ(outcome_.log, LogOutcome::Written);
    EXPECT_EQ(outcome_.moved, 1);
    ASSERT_EQ(outcome_.notMoved.size(), 3u);
    EXPECT_EQ(outcome_.notMoved[0].reason, NotMovedReason::Gone);
    EXPECT_EQ(outcome_.notMoved[1].reason, NotMovedReason::Changed);
    EXPECT_EQ(outcome_.notMoved[2].path, replaced);
    EXPECT_EQ(outcome_.notMoved[2].reason, NotMovedReason::Changed);
}

TEST_F(DeleteTest, LongListOfRefusedFilesIsCut)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 20; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "g%02d.jpg", i);
        paths.push_back(Pic(name));
    }
    Scan();
    for (const std::string& path : paths)
        Rewrite(path, ReadFile(path) + "+");
    Select(paths);
    Delete();

    std::string expected = "次のファイルはごみ箱に移動できませんでした。\n";
    for (int i = 0; i < 15; ++i)
        expected += paths[static_cast<std::size_t>(i)] + " （検索の後で変更されています）\n";
    expected += "他 5 件\n";
    ASSERT_EQ(messenger_.shown.size(), 2u);
    ExpectMessage(1, expected, MessageButtons::Ok);
    EXPECT_TRUE(Trashed().empty());
    EXPECT_EQ(view_.table.RowCount(), 20);
}

// Another process swaps each confirmed file with an unlisted one by atomic
// renames between the check and the move (here through the writer's hook, so
// that it happens every time). What reached the trash is found out by its
// proof and goes back; where something has taken the path meanwhile, it stays
// in the trash under a valid entry and the message names both places.
TEST_F(DeleteTest, FileSwappedBeforeTheMoveIsFoundOutAndPutBack)
{
    std::vector<std::string> pics, decoys;
    // Built by appending: GCC 12's Release build warns falsely on "…" + string&&.
    auto name = [](const char* prefix, std::size_t i, const char* suffix) {
        std::string text = prefix;
        if (i < 10)
            text += '0';
        text += std::to_string(i);
        text += suffix;
        return text;
    };
    for (std::size_t i = 0; i < 21; ++i) {
        pics.push_back(Pic(name("p", i, ".jpg")));
        decoys.push_back(Pic(name("decoy", i, ".dat")));
    }
    Scan();
    Select(pics);
    std::map<std::string, std::string> decoyOf, trashedDecoys;
    for (std::size_t i = 0; i < pics.size(); ++i)
        decoyOf[pics[i]] = decoys[i];
    // Every third file is left alone, every third swapped, every third swapped
    // and then its path taken by a newcomer right after the move.
    hooks_.beforeMove = [&](const std::string& path) {
        const std::size_t i = static_cast<std::size_t>(std::find(pics.begin(), pics.end(), path) - pics.begin());
        if (i % 3 == 0)
            return;
        const std::string& decoy = decoyOf[path];
        ASSERT_EQ(renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, decoy.c_str(), RENAME_EXCHANGE), 0);
        std::swap(made_[path], made_[decoy]);
    };
    hooks_.afterMove = [&](const std::string& path) {
        const std::size_t i = static_cast<std::size_t>(std::find(pics.begin(), pics.end(), path) - pics.begin());
        if (i % 3 != 2)
            return;
        trashedDecoys[path] = made_[path];
        made_[path] = "newcomer";
        std::ofstream(path, std::ios::binary) << "newcomer";
    };
    Delete();

    ASSERT_EQ(outcome_.notMoved.size(), 14u);
    EXPECT_EQ(outcome_.moved, 7);
    const auto trashed = Trashed();
    EXPECT_EQ(trashed.size(), 14u);
    std::size_t n = 0;
    for (std::size_t i = 0; i < pics.size(); ++i) {
        const std::string& path = pics[i];
        if (i % 3 == 0) {
            EXPECT_EQ(trashed.at(path), name("picture p", i, ".jpg"));
            continue;
        }
        const NotMoved& why = outcome_.notMoved[n++];
        EXPECT_EQ(why.path, path);
        if (i % 3 == 1) {
            // Back where it was taken from; the confirmed file is the decoy's now.
            EXPECT_EQ(why.reason, NotMovedReason::Changed);
            EXPECT_EQ(ReadFile(path), name("picture decoy", i, ".dat"));
            EXPECT_EQ(trashed.count(path), 0u);
        } else {
            EXPECT_EQ(why.reason, NotMovedReason::ChangedInTrash);
            EXPECT_EQ(ReadFile(why.trashEntry), trashedDecoys[path]);
            EXPECT_EQ(trashed.at(path), trashedDecoys[path]) << "its entry names where it came from";
            EXPECT_EQ(ReadFile(path), "newcomer");
        }
        EXPECT_EQ(ReadFile(decoyOf[path]), name("picture p", i, ".jpg"));
    }
    // Only the moved files leave the table, and the message names both places.
    EXPECT_EQ(view_.table.RowCount(), 14);
    ASSERT_EQ(messenger_.shown.size(), 2u);
    const std::string& text = messenger_.shown[1].text;
    EXPECT_NE(text.find(pics[1] + " （" + kChangedReasonText + "）\n"), std::string::npos) << text;
    EXPECT_NE(text.find(pics[2] + " （" + kChangedInTrashReasonText + outcome_.notMoved[1].trashEntry + "）\n"),
              std::string::npos)
        << text;
    // The trashed decoys are not the user's files: they do not count as moved.
    ASSERT_EQ(outcome_.movedFiles.size(), 7u);
    for (std::size_t k = 0; k < outcome_.movedFiles.size(); ++k)
        EXPECT_EQ(outcome_.movedFiles[k].path, pics[3 * k]);
}

// The log in the current folder cannot take the block: locked by another
// process for longer than the wait, a folder, or in a read-only folder. The
// block goes to the fallback log, the files move, one message says where the
// record is and why, and the undo of this deletion puts back its own file,
// not the one an earlier deletion moved on purpose.
struct LogFault {
    const char* name;
    const char* why;  // as the message gives it
    // Makes the log unusable; returns the log path to use, or "" to skip, with
    // `undo` to run afterwards.
    std::string (*arrange)(const std::string& log, std::vector<std::function<void()>>& undo, std::string& skip);
};
void PrintTo(const LogFault& c, std::ostream* out)
{
    *out << c.name;
}

const LogFault kLogFaults[] = {
    {"Locked", "他のプログラムが使用中でした",
     [](const std::string& log, std::vector<std::function<void()>>& undo, std::string&) {
         const int fd = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
         EXPECT_EQ(flock(fd, LOCK_EX), 0);
         undo.push_back([fd] { close(fd); });
         return log;
     }},
    {"Folder", "開けませんでした",
     [](const std::string& log, std::vector<std::function<void()>>& undo, std::string&) {
         const std::string aside = log + ".aside";
         rename(log.c_str(), aside.c_str());
         mkdir(log.c_str(), 0755);
         undo.push_back([log, aside] {
             rmdir(log.c_str());
             rename(aside.c_str(), log.c_str());
         });
         return log;
     }},
    {"ReadOnlyCurrentFolder", "開けませんでした",
     [](const std::string& log, std::vector<std::function<void()>>& undo, std::string& skip) {
         const std::string folder = log.substr(0, log.rfind('/'));
         unlink(log.c_str());
         if (!g_mountRefusal.empty()) {
             skip = "no mount of our own: " + g_mountRefusal;
             return std::string();
         }
         if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
             mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
             skip = std::string("read-only bind mount refused: ") + std::strerror(errno);
             return std::string();
         }
         char here[4096];
         const std::string back = getcwd(here, sizeof here) ? here : "/";
         EXPECT_EQ(chdir(folder.c_str()), 0);
         undo.push_back([folder, back] {
             EXPECT_EQ(chdir(back.c_str()), 0);
             umount2(folder.c_str(), MNT_DETACH);
         });
         return std::string("DeleteLog.log");
     }},
};

class LogFaultTest : public DeleteTest, public ::testing::WithParamInterface<LogFault> { };

TEST_P(LogFaultTest, BlockGoesToTheFallbackLogAndTheUndoTakesThisDeletionsFiles)
{
    const LogFault& fault = GetParam();
    const std::string earlier = Pic("a/x.jpg"), now = Pic("b/x.jpg");
    Pic("c/x.jpg");
    Scan();
    ChooseName("x.jpg");
    Select({earlier});
    Delete();  // deleted on purpose, into the usual log
    ASSERT_EQ(outcome_.logPath, log_);
    const std::string logBefore = ReadFile(log_);

    std::vector<std::function<void()>> undo;
    std::string skip;
    const std::string logPath = fault.arrange(log_, undo, skip);
    if (logPath.empty()) {
        for (auto it = undo.rbegin(); it != undo.rend(); ++it)
            (*it)();
        GTEST_SKIP() << skip;
    }
    messenger_.shown.clear();
    Select({now});
    Delete(LaterClock, logPath);
    for (auto it = undo.rbegin(); it != undo.rend(); ++it)
        (*it)();

    ASSERT_EQ(messenger_.shown.size(), 2u);
    ExpectMessage(1,
                  std::string("削除ログ(DeleteLog.log)を") + fault.why +
                      "。\n削除の記録は次のファイルに書きました。\n" + FallbackLog(),
                  MessageButtons::Ok);
    EXPECT_EQ(outcome_.logPath, FallbackLog());
    EXPECT_EQ(outcome_.moved, 1);
    EXPECT_FALSE(Exists(now));
    if (Exists(log_)) {
        EXPECT_EQ(ReadFile(log_), logBefore);
    }
    LoggedDeletion last;
    ASSERT_EQ(ReadLastDeletion(FallbackLog(), last), LogReadOutcome::Read);
    EXPECT_EQ(last.paths, std::vector<std::string>{now});

    // The undo of this deletion: its own file comes back, the earlier one stays.
    RecordingProgress progress;
    const std::vector<RestoreResult> results = RestoreTrashed(outcome_.movedFiles, progress);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].status, RestoreStatus::Restored);
    EXPECT_TRUE(Exists(now));
    EXPECT_FALSE(Exists(earlier));
    EXPECT_EQ(Trashed().count(earlier), 1u);
}

INSTANTIATE_TEST_SUITE_P(Faults, LogFaultTest, ::testing::ValuesIn(kLogFaults),
                         [](const ::testing::TestParamInfo<LogFault>& info) { return info.param.name; });

// --- Undoing the last deletion ---------------------------------------------

// A loop-mounted ext4 image: a real file system of its own, on which GIO
// trashes into <top>/.Trash-<uid>. Empty path when mounting is not allowed.
class LoopMount final {
public:
    LoopMount()
    {
        if (!g_mountRefusal.empty()) {
            refusal_ = g_mountRefusal;
            return;
        }
        const std::string image = folder_ / "fs.img";
        const std::string top = folder_.MakeFolder("top");
        const std::string command = "PATH=\"$PATH:/sbin:/usr/sbin\"; truncate -s 16M '" + image +
                                    "' && mkfs.ext4 -q -F '" + image + "' >/dev/null 2>&1 && mount -o loop '" + image +
                                    "' '" + top + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0) {
            refusal_ = "mkfs.ext4 and mount -o loop failed";
            return;
        }
        top_ = top;
    }
    ~LoopMount()
    {
        if (!top_.empty())
            umount2(top_.c_str(), MNT_DETACH);
    }
    LoopMount(const LoopMount&) = delete;
    LoopMount& operator=(const LoopMount&) = delete;

    const std::string& Top() const { return top_; }
    const std::string& Refusal() const { return refusal_; }

private:
    TempDir folder_;
    std::string top_;
    std::string refusal_;
};

// What one scene sets up and what the undo must give for it.
class RestoreBench;
struct RestoreScene {
    const char* name;
    bool onMount;  // the files lie on a mounted file system with its own trash
    // Makes and trashes the files and writes the log. Returns the status
    // expected for each path of the last block, in order.
    std::vector<RestoreStatus> (*play)(RestoreBench& bench);
    // What a second undo gives where it is not "not found" for a restored
    // path and the same as the first undo for the others.
    std::vector<RestoreStatus> again = {};
    // Checks what the scene needs beyond the entries, after both undos.
    void (*after)(RestoreBench& bench) = nullptr;
};
void PrintTo(const RestoreScene& c, std::ostream* out)
{
    *out << c.name;
}

class RestoreBench {
public:
    RestoreBench(std::string base, std::string log) : base_(std::move(base)), log_(std::move(log)) { }

    // A file with the content "<relative> <version>", its folders made.
    std::string File(const std::string& relative, const std::string& version = "1")
    {
        const std::string path = base_ + "/" + relative;
        for (std::size_t slash = base_.size() + 1; (slash = path.find('/', slash)) != std::string::npos; ++slash)
            mkdir(path.substr(0, slash).c_str(), 0755);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << relative << ' ' << version;
        return path;
    }
    // Trashes the file with GIO; returns its new .trashinfo.
    std::string Trash(const std::string& path)
    {
        struct stat st { };
        EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
        const std::vector<std::string> before = InfoFiles();
        const ShellResult moved = MoveToTrash(path);
        EXPECT_TRUE(moved.ok) << path << ": " << moved.error;
        for (const std::string& info : InfoFiles()) {
            if (std::find(before.begin(), before.end(), info) == before.end()) {
                trashed_[info] = {ReadFile(TrashedFile(info)), st.st_ino};
                comesBack_[path] = info;
                return info;
            }
        }
        ADD_FAILURE() << "no new .trashinfo for " << path;
        return {};
    }
    // The entry that must come back for `path`; by default its last one.
    void ComesBack(const std::string& path, const std::string& info) { comesBack_[path] = info; }
    const std::string& EntryComingBack(const std::string& path) { return comesBack_[path]; }
    // Sets the DeletionDate line of a .trashinfo (local time).
    static void SetDeletionDate(const std::string& info, const std::string& date)
    {
        std::string text = ReadFile(info);
        const std::size_t at = text.find("DeletionDate=");
        ASSERT_NE(at, std::string::npos);
        text.replace(at, text.find('\n', at) - at, "DeletionDate=" + date);
        std::ofstream(info, std::ios::binary | std::ios::trunc) << text;
    }
    static std::string TrashedFile(const std::string& info)
    {
        const std::size_t slash = info.rfind("/info/");
        return info.substr(0, slash) + "/files/" + info.substr(slash + 6, info.size() - slash - 6 - 10);
    }
    void Log(std::int64_t start, const std::vector<std::string>& paths)
    {
        ASSERT_EQ(AppendDeletionLog(start, paths, log_), LogOutcome::Written);
    }

    // Every .trashinfo of the trash folders the files can go to.
    std::vector<std::string> InfoFiles() const
    {
        std::vector<std::string> out;
        for (const std::string& trash : {TrashDir(), base_ + "/.Trash-" + std::to_string(getuid())}) {
            if (DIR* dir = opendir((trash + "/info").c_str())) {
                while (dirent* e = readdir(dir)) {
                    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                        out.push_back(trash + "/info/" + e->d_name);
                }
                closedir(dir);
            }
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    struct Trashed {
        std::string content;
        ino_t inode = 0;
    };
    const std::map<std::string, Trashed>& TrashedByInfo() const { return trashed_; }
    const std::string& Base() const { return base_; }

private:
    std::string base_;
    std::string log_;
    std::map<std::string, Trashed> trashed_;        // .trashinfo -> what went in
    std::map<std::string, std::string> comesBack_;  // original path -> .trashinfo
};

constexpr std::int64_t kBlockStart = 946652400;  // 2000-01-01 00:00:00 in Tokyo
const char* const kBeforeBlock = "1999-12-31T23:59:59";
const char* const kInBlockEarly = "2000-01-01T00:00:00";
const char* const kInBlockLate = "2000-01-01T00:00:01";

// The user's entry of a path among planted ones: one dated in the future and
// one that belongs to another user (where this process may give it away) in a
// trash folder that others may write to. Only the user's own comes back.
std::vector<RestoreStatus> PlantedEntries(RestoreBench& b)
{
    const std::string x = b.File("x.jpg", "mine");
    const std::string mine = b.Trash(x);
    RestoreBench::SetDeletionDate(mine, kInBlockEarly);
    chmod(mine.substr(0, mine.rfind("/info/")).c_str(), 0777);
    b.File("x.jpg", "from the future");
    RestoreBench::SetDeletionDate(b.Trash(x), "2099-01-01T00:00:00");
    b.File("x.jpg", "someone else's");
    const std::string other = b.Trash(x);
    RestoreBench::SetDeletionDate(other, kInBlockLate);
    const std::string otherFile = RestoreBench::TrashedFile(other);
    if (chown(other.c_str(), 4242, 4242) != 0 || chown(otherFile.c_str(), 4242, 4242) != 0) {
        unlink(other.c_str());
        unlink(otherFile.c_str());
    }
    b.ComesBack(x, mine);
    b.Log(kBlockStart, {x});
    return {RestoreStatus::Restored};
}

const RestoreScene kRestoreScenes[] = {
    {"LinkInAParentIsNotFollowed",
     false,
     [](RestoreBench& b) {
         const std::string a = b.File("home/pics/a.jpg"), sub = b.File("home/pics/sub/b.jpg");
         b.File("elsewhere/keep.txt");
         b.Trash(a);
         b.Trash(sub);
         rmdir((b.Base() + "/home/pics/sub").c_str());
         rmdir((b.Base() + "/home/pics").c_str());
         symlink("../elsewhere", (b.Base() + "/home/pics").c_str());
         b.Log(kBlockStart, {a, sub});
         return std::vector<RestoreStatus>{RestoreStatus::LinkInPath, RestoreStatus::LinkInPath};
     },
     {},
     [](RestoreBench& b) {
         // Nothing landed behind the link, and no folder was made there.
         EXPECT_FALSE(Exists(b.Base() + "/elsewhere/a.jpg"));
         EXPECT_FALSE(Exists(b.Base() + "/elsewhere/sub"));
     }},
    {"FileWhereAFolderWasIsNotCalledALink", false,
     [](RestoreBench& b) {
         const std::string a = b.File("album/a.jpg"), c = b.File("kept/c.jpg");
         b.Trash(a);
         b.Trash(c);
         rmdir((b.Base() + "/album").c_str());
         b.File("album", "a file now");
         rmdir((b.Base() + "/kept").c_str());
         symlink("../elsewhere", (b.Base() + "/kept").c_str());
         b.Log(kBlockStart, {a, c});
         return std::vector<RestoreStatus>{RestoreStatus::FileInPath, RestoreStatus::LinkInPath};
     }},
    {"PlantedEntriesAreNotTrusted", false, PlantedEntries},
    {"MountTrashPlantedEntriesAreNotTrusted", true, PlantedEntries},
    {"FullUndoRecreatesFoldersAndOddNames", false,
     [](RestoreBench& b) {
         const std::vector<std::string> paths = {b.File("a/x.jpg"), b.File("gone/deep/y.jpg"),
                                                 b.File("\x82\xa0\x8a\xbf.jpg"), b.File("line\rbreak\n.jpg")};
         for (const std::string& path : paths)
             b.Trash(path);
         rmdir((b.Base() + "/gone/deep").c_str());
         rmdir((b.Base() + "/gone").c_str());
         b.Log(kBlockStart, paths);
         return std::vector<RestoreStatus>(paths.size(), RestoreStatus::Restored);
     }},
    {"OccupiedPathIsLeftAlone", false,
     [](RestoreBench& b) {
         const std::string x = b.File("x.jpg"), y = b.File("y.jpg");
         b.Trash(x);
         b.Trash(y);
         b.File("x.jpg", "newcomer");
         symlink("nowhere", y.c_str());  // a dangling link occupies the path too
         b.Log(kBlockStart, {x, y});
         return std::vector<RestoreStatus>{RestoreStatus::Occupied, RestoreStatus::Occupied};
     }},
    {"EntryEmptiedFromTheTrash", false,
     [](RestoreBench& b) {
         const std::string x = b.File("x.jpg"), y = b.File("y.jpg");
         const std::string info = b.Trash(x);
         b.Trash(y);
         unlink(RestoreBench::TrashedFile(info).c_str());
         unlink(info.c_str());
         b.Log(kBlockStart, {x, y});
         return std::vector<RestoreStatus>{RestoreStatus::NotFound, RestoreStatus::Restored};
     }},
    {"OnlyTheLastOfTwoBlocks", false,
     [](RestoreBench& b) {
         const std::string old = b.File("old.jpg"), last = b.File("last.jpg");
         b.Trash(old);
         b.Trash(last);
         b.Log(kBlockStart - 3600, {old});
         b.Log(kBlockStart, {last});
         return std::vector<RestoreStatus>{RestoreStatus::Restored};
     }},
    {"TrashedTwiceInTheBlockIsAmbiguous", false,
     [](RestoreBench& b) {
         // Two copies dated in the block: either may be another program's, so
         // neither comes back; the one dated before the block does not count.
         const std::string x = b.File("x.jpg", "first");
         const std::string first = b.Trash(x);
         RestoreBench::SetDeletionDate(first, kInBlockLate);
         b.File("x.jpg", "second");
         RestoreBench::SetDeletionDate(b.Trash(x), kInBlockEarly);
         b.File("x.jpg", "third");
         RestoreBench::SetDeletionDate(b.Trash(x), kBeforeBlock);
         b.Log(kBlockStart, {x});
         return std::vector<RestoreStatus>{RestoreStatus::Ambiguous};
     }},
    {"DatedWithAZoneIsReadInIt", false,
     [](RestoreBench& b) {
         // The block starts at 1999-12-31 15:00:00 UTC. Each date, read as
         // Tokyo time, would give the other answer.
         const std::string x = b.File("x.jpg"), y = b.File("y.jpg"), z = b.File("z.jpg");
         RestoreBench::SetDeletionDate(b.Trash(x), "1999-12-31T15:00:00Z");
         RestoreBench::SetDeletionDate(b.Trash(y), "1999-12-31T23:59:59+00:00");
         RestoreBench::SetDeletionDate(b.Trash(z), "2000-01-01T08:59:59+18:00");
         b.Log(kBlockStart, {x, y, z});
         return std::vector<RestoreStatus>{RestoreStatus::Restored, RestoreStatus::Restored, RestoreStatus::NotFound};
     }},
    {"InfoChangedAfterTheYear2262", false,
     [](RestoreBench& b) {
         // Nanoseconds of such a time overflow 64 bits; the entry still counts.
         const std::string x = b.File("x.jpg");
         const std::string info = b.Trash(x);
         const struct timespec times[2] = {{10413792000, 0}, {10413792000, 0}};  // 2300-01-01
         EXPECT_EQ(utimensat(AT_FDCWD, info.c_str(), times, 0), 0);
         b.Log(kBlockStart, {x});
         return std::vector<RestoreStatus>{RestoreStatus::Restored};
     }},
    {"DeletedBeforeTheBlockStarted", false,
     [](RestoreBench& b) {
         const std::string x = b.File("x.jpg");
         RestoreBench::SetDeletionDate(b.Trash(x), kBeforeBlock);
         b.Log(kBlockStart, {x});
         return std::vector<RestoreStatus>{RestoreStatus::NotFound};
     }},
    {"OddEntriesAreLeftAloneAndReported", false,
     [](RestoreBench& b) {
         const std::string x = b.File("x.jpg"), y = b.File("y.jpg");
         const std::string xInfo = b.Trash(x);
         const std::string entry = RestoreBench::TrashedFile(xInfo);
         rename(entry.c_str(), (entry + ".saved").c_str());
         mkdir(entry.c_str(), 0755);  // a folder where the file was
         RestoreBench::SetDeletionDate(b.Trash(y), "yesterday");
         b.Log(kBlockStart, {x, y});
         return std::vector<RestoreStatus>{RestoreStatus::NotRegularFile, RestoreStatus::BadTrashInfo};
     }},
    {"MountTrashFullUndo", true,
     [](RestoreBench& b) {
         const std::vector<std::string> paths = {b.File("a/x.jpg"), b.File("gone/y.jpg"), b.File("\x82\xa0.jpg")};
         for (const std::string& path : paths)
             b.Trash(path);
         rmdir((b.Base() + "/gone").c_str());
         b.Log(kBlockStart, paths);
         return std::vector<RestoreStatus>(paths.size(), RestoreStatus::Restored);
     }},
    {"MountTrashOccupiedAndTwice", true,
     [](RestoreBench& b) {
         const std::string x = b.File("x.jpg", "first"), y = b.File("y.jpg");
         RestoreBench::SetDeletionDate(b.Trash(x), kInBlockEarly);
         b.File("x.jpg", "second");
         RestoreBench::SetDeletionDate(b.Trash(x), kInBlockLate);
         b.Trash(y);
         b.File("y.jpg", "newcomer");
         b.Log(kBlockStart, {x, y});
         return std::vector<RestoreStatus>{RestoreStatus::Ambiguous, RestoreStatus::Occupied};
     }},
};

class RestoreTest : public ::testing::TestWithParam<RestoreScene> {
protected:
    void SetUp() override { RemoveTree(TrashDir()); }
    TempDir folder_;
    std::string log_ = folder_.MakeFolder("logs") + "/DeleteLog.log";
};

// The undo of every scene, run twice: the first puts back what it may and
// touches nothing else; the second finds each restored file gone from the
// trash and changes nothing at all.
TEST_P(RestoreTest, PutsBackWhatTheLastBlockMovedAndNothingElse)
{
    const RestoreScene& scene = GetParam();
    std::unique_ptr<LoopMount> mount;
    std::string base = folder_.MakeFolder("files");
    if (scene.onMount) {
        mount = std::make_unique<LoopMount>();
        if (mount->Top().empty())
            GTEST_SKIP() << "no mount of our own: " << mount->Refusal();
        base = mount->Top();
    }
    RestoreBench bench(base, log_);
    const std::vector<RestoreStatus> expected = scene.play(bench);
    const std::string log = ReadFile(log_);
    const std::vector<std::string> infosBefore = bench.InfoFiles();

    LoggedDeletion deletion;
    ASSERT_EQ(ReadLastDeletion(log_, deletion), LogReadOutcome::Read);
    EXPECT_EQ(deletion.startTime, kBlockStart);
    RecordingProgress progress;
    const std::vector<RestoreResult> results = RestoreDeletion(deletion, progress);
    ASSERT_EQ(results.size(), expected.size());
    ASSERT_FALSE(progress.ops.empty());
    EXPECT_EQ(progress.ops.back(), "pos 0");

    // Each restored file is the very file that went to the trash (its inode
    // and content), its .trashinfo is gone, and no other entry was touched.
    std::vector<std::string> infosLeft = infosBefore;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const RestoreResult& r = results[i];
        EXPECT_EQ(r.path, deletion.paths[i]);
        EXPECT_EQ(r.status, expected[i]) << r.path;
        if (r.status != RestoreStatus::Restored)
            continue;
        const auto chosen = bench.TrashedByInfo().find(bench.EntryComingBack(r.path));
        ASSERT_NE(chosen, bench.TrashedByInfo().end()) << r.path;
        EXPECT_EQ(r.trashEntry, RestoreBench::TrashedFile(chosen->first));
        struct stat st { };
        ASSERT_EQ(lstat(r.path.c_str(), &st), 0) << r.path;
        EXPECT_EQ(st.st_ino, chosen->second.inode);
        EXPECT_EQ(ReadFile(r.path), chosen->second.content);
        infosLeft.erase(std::find(infosLeft.begin(), infosLeft.end(), chosen->first));
    }
    EXPECT_EQ(bench.InfoFiles(), infosLeft);
    for (const std::string& info : infosLeft) {
        const auto it = bench.TrashedByInfo().find(info);
        if (it != bench.TrashedByInfo().end() && Exists(RestoreBench::TrashedFile(info) + "/"))
            continue;  // the folder put in place of an entry
        if (it != bench.TrashedByInfo().end()) {
            EXPECT_EQ(ReadFile(RestoreBench::TrashedFile(info)), it->second.content) << info;
        }
    }
    EXPECT_EQ(ReadFile(log_), log);

    // Again: what came back is no longer in the trash; the rest stays as it was.
    const std::vector<RestoreResult> again = RestoreDeletion(deletion, progress);
    ASSERT_EQ(again.size(), results.size());
    for (std::size_t i = 0; i < again.size(); ++i) {
        const RestoreStatus second = i < scene.again.size()                         ? scene.again[i]
                                     : results[i].status == RestoreStatus::Restored ? RestoreStatus::NotFound
                                                                                    : results[i].status;
        EXPECT_EQ(again[i].status, second) << again[i].path;
    }
    EXPECT_EQ(bench.InfoFiles(), infosLeft);
    EXPECT_EQ(ReadFile(log_), log);
    if (scene.after)
        scene.after(bench);
}

INSTANTIATE_TEST_SUITE_P(Scenes, RestoreTest, ::testing::ValuesIn(kRestoreScenes),
                         [](const ::testing::TestParamInfo<RestoreScene>& info) { return info.param.name; });

// The clock goes back from 02:00 summer time to 01:00 in London on
// 2026-10-25: a block started at 01:59:59 summer time and a file trashed at
// 01:00:01 winter time, two seconds later, are one deletion.
TEST(RestoreTimeTest, BlockInTheRepeatedHourMatchesBothReadings)
{
    const TimeZone london("Europe/London");
    const std::int64_t start = 1792889999;  // 2026-10-25 00:59:59 UTC, 01:59:59 summer time
    TempDir folder;
    RestoreBench bench(folder.MakeFolder("files"), folder / "DeleteLog.log");
    RemoveTree(TrashDir());
    const std::string x = bench.File("x.jpg");
    RestoreBench::SetDeletionDate(bench.Trash(x), "2026-10-25T01:00:01");
    bench.Log(start, {x});
    EXPECT_NE(ReadFile(folder / "DeleteLog.log").find("2026年10月25日 01時59分59秒"), std::string::npos);

    LoggedDeletion deletion;
    ASSERT_EQ(ReadLastDeletion(folder / "DeleteLog.log", deletion), LogReadOutcome::Read);
    EXPECT_EQ(deletion.startTime, start);
    EXPECT_EQ(deletion.startTimeLatest, start + 3600);
    RecordingProgress progress;
    const std::vector<RestoreResult> results = RestoreDeletion(deletion, progress);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].status, RestoreStatus::Restored);
    EXPECT_TRUE(Exists(x));
}

// Our .trashinfo is byte for byte what g_file_trash writes for the same path
// (the moment of deletion aside, which each takes from the clock), in the home
// trash and in a mount's own trash; and GLib's own reading of it finds the
// original path.
// The folder a file came from is now the top of another file system: the
// undo cannot move it there, and the window says so in its own words.
TEST(RestoreWordsTest, RefusalOfTheSystemIsSaidInJapanese)
{
    if (!g_mountRefusal.empty())
        GTEST_SKIP() << "no mount of our own: " << g_mountRefusal;
    RemoveTree(TrashDir());
    TempDir folder;
    const std::string x = folder.WriteFile("album/x.jpg", "x");
    ASSERT_TRUE(MoveToTrash(x).ok);
    const std::string log = folder / "DeleteLog.log";
    ASSERT_EQ(AppendDeletionLog(CurrentTime() - 60, {x}, log), LogOutcome::Written);
    ASSERT_EQ(mount("tmpfs", (folder / "album").c_str(), "tmpfs", 0, "mode=0755"), 0);

    LoggedDeletion deletion;
    ASSERT_EQ(ReadLastDeletion(log, deletion), LogReadOutcome::Read);
    RecordingProgress progress;
    const std::vector<RestoreResult> results = RestoreDeletion(deletion, progress);
    umount2((folder / "album").c_str(), MNT_DETACH);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].status, RestoreStatus::Failed);
    EXPECT_EQ(results[0].errorNumber, EXDEV);
    const std::string text = RestoreSummaryText(results);
    EXPECT_NE(text.find(x + " (移動できません: " + x + ": 別のファイルシステムには移せません)"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("cross-device"), std::string::npos) << text;
    EXPECT_EQ(Trashed().count(x), 1u) << "the entry stays in the trash";
}

TEST(TrashInfoTest, EntriesAreWhatGioWritesForTheSamePath)
{
    RemoveTree(TrashDir());
    TempDir folder;
    std::unique_ptr<LoopMount> mount = std::make_unique<LoopMount>();
    std::vector<std::string> bases = {folder.MakeFolder("files")};
    if (!mount->Top().empty())
        bases.push_back(mount->Top());
    else
        std::printf("[   NOTE   ] no mount of our own (%s): the home trash only\n", mount->Refusal().c_str());
    const std::vector<std::string> names = {"plain.jpg",         "a b%41.jpg",
                                            "n\xC3\xA9~#?.jpg",  "\x82\xa0\x8a\xbf.jpg",
                                            "line\rbreak\n.jpg", "r!$&'()*+,;=:@[]\"<>\\^`{|}.jpg",
                                            ".hidden.x.jpg",     "noext"};
    // The date must be a local "YYYY-MM-DDThh:mm:ss" taken during the move.
    auto withoutDate = [](std::string text, std::int64_t from, std::int64_t to) {
        const std::size_t at = text.find("\nDeletionDate=");
        EXPECT_NE(at, std::string::npos) << text;
        if (at == std::string::npos)
            return text;
        const std::string date = text.substr(at + 14, text.find('\n', at + 1) - at - 14);
        int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
        EXPECT_EQ(std::sscanf(date.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &y, &mo, &d, &h, &mi, &sec), 6) << date;
        const auto when = LocalTimeFromParts(y, mo, d, h, mi, sec);
        EXPECT_TRUE(when && *when >= from && *when <= to) << date;
        text.replace(at + 14, date.size(), "<date>");
        return text;
    };
    for (const std::string& base : bases) {
        RestoreBench bench(base, folder / "unused.log");
        for (const std::string& name : names) {
            SCOPED_TRACE(base + "/" + name);
            const std::string path = bench.File(name, "by GIO");
            std::int64_t before = CurrentTime();
            const std::string gio = bench.Trash(path);
            const std::string gioText = withoutDate(ReadFile(gio), before, CurrentTime());

            bench.File(name, "by us");
            const auto facts = StatRegularFile(path);
            ASSERT_TRUE(facts);
            TrashWriter writer;
            before = CurrentTime();
            const TrashOutcome ours = writer.Move(path, *facts);
            ASSERT_EQ(ours.status, TrashStatus::Moved) << ours.error;
            EXPECT_EQ(ours.entry.folder, gio.substr(0, gio.rfind("/info/")));
            EXPECT_EQ(ReadFile(ours.entry.FilePath()), name + " by us");
            const std::string ourText = ReadFile(ours.entry.InfoPath());
            EXPECT_EQ(withoutDate(ourText, before, CurrentTime()), gioText);

            GKeyFile* keys = g_key_file_new();
            ASSERT_TRUE(g_key_file_load_from_data(keys, ourText.data(), ourText.size(), G_KEY_FILE_NONE, nullptr));
            gchar* escaped = g_key_file_get_value(keys, "Trash Info", "Path", nullptr);
            ASSERT_NE(escaped, nullptr);
            const std::string original = PercentDecode(escaped);
            EXPECT_EQ(original, base == bases[0] ? path : name);
            g_free(escaped);
            g_key_file_free(keys);
        }
    }
}

// The log as read back: only the last block, escapes undone, and refusals.
TEST(DeletionLogReaderTest, ReadsTheLastBlockAndDecodesOnlyItsEscapes)
{
    EXPECT_EQ(DecodeLoggedPath("/a%0Db%0Ac%25d%0a%41%2"), "/a\rb\nc%d%0a%41%2");
    EXPECT_EQ(DecodeLoggedPath("%2525"), "%25");

    TempDir folder;
    LoggedDeletion deletion;
    EXPECT_EQ(ReadLastDeletion(folder / "missing.log", deletion), LogReadOutcome::NotReadable);
    EXPECT_EQ(ReadLastDeletion(folder.Path(), deletion), LogReadOutcome::NotReadable);
    EXPECT_EQ(ReadLastDeletion(folder.WriteFile("empty.log", ""), deletion), LogReadOutcome::NoBlock);
    EXPECT_EQ(ReadLastDeletion(folder.WriteFile("bad.log", Block("2000年13月01日 00時00分00秒", {"/x"})), deletion),
              LogReadOutcome::NoStartTime);

    const std::string log = folder.WriteFile(
        "two.log", Block(kStartText, {"/old.jpg"}) + Block("2000年01月01日 00時00分00秒", {"/a%0D.jpg", "/b%25.jpg"}) +
                       "/unended.jpg");
    ASSERT_EQ(ReadLastDeletion(log, deletion), LogReadOutcome::Read);
    EXPECT_EQ(deletion.startTime, kBlockStart);
    EXPECT_EQ(deletion.paths, (std::vector<std::string>{"/a\r.jpg", "/b%.jpg", "/unended.jpg"}));

    // A heading inside a path line is no heading; a line break within a chunk
    // boundary is found all the same.
    const std::string tricky = folder.WriteFile(
        "tricky.log", Block(kStartText, {"/x/" + std::string(kDeletionLogHeading) + ".jpg"}) +
                          std::string(1 << 20, '#') + "\r\n" + Block("2000年01月01日 00時00分00秒", {"/last.jpg"}));
    ASSERT_EQ(ReadLastDeletion(tricky, deletion), LogReadOutcome::Read);
    EXPECT_EQ(deletion.paths, std::vector<std::string>{"/last.jpg"});
}

// A log of 6 GB (sparse, so it costs no disk) is read from its end: only the
// last block is held, never the whole file.
TEST(DeletionLogReaderTest, HugeLogIsReadFromItsTail)
{
    TempDir folder;
    const std::string log = folder / "DeleteLog.log";
    const std::string first = Block(kStartText, {"/first.jpg"});
    const std::string last = "\r\n" + Block("2000年01月01日 00時00分00秒", {"/last/a.jpg", "/last/b.jpg"});
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const off_t six = off_t{6} << 30;
    const bool made = pwrite(fd, first.data(), first.size(), 0) == static_cast<ssize_t>(first.size()) &&
                      pwrite(fd, last.data(), last.size(), six) == static_cast<ssize_t>(last.size());
    close(fd);
    if (!made)
        GTEST_SKIP() << "no 6 GB sparse file here: " << std::strerror(errno);
    // Far less than the log: reading it whole would fail. The sanitizers
    // reserve terabytes of address space for themselves, so there the plain
    // build's run is the one that shows the bound.
    struct rlimit saved { };
    getrlimit(RLIMIT_AS, &saved);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    struct rlimit small = saved;
    small.rlim_cur = std::min<rlim_t>(saved.rlim_cur, rlim_t{4} << 30);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &small), 0);
#endif
    LoggedDeletion deletion;
    const LogReadOutcome read = ReadLastDeletion(log, deletion);
    setrlimit(RLIMIT_AS, &saved);
    ASSERT_EQ(read, LogReadOutcome::Read);
    EXPECT_EQ(deletion.startTime, kBlockStart);
    EXPECT_EQ(deletion.paths, (std::vector<std::string>{"/last/a.jpg", "/last/b.jpg"}));
}

}  // namespace
}  // namespace snapsift
