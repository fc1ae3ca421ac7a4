// SPDX-License-Identifier: MIT
// Hostile trees through the core and the report mode: the search completes,
// the rows are right, automatic selection follows its rule, and a deletion
// moves only what was confirmed and still matches its row, whatever happens
// to the tree between the listing, the search and the deletion.
#include "delete/delete_selected.h"
#include "delete/deletion_log.h"
#include "hostile_trees.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/progress.h"
#include "platform/user_desktop.h"
#include "review/result_view.h"
#include "scan/file_table.h"
#include "scan/folder_scan.h"
#include "scan/picture_types.h"
#include "support/gio_trash.h"
#include "support/scoped_env.h"
#include "support/table_rows.h"
#include "support/temp_tree.h"
#include "ui/delete_conversation.h"
#include "ui/window_texts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace snapsift::testing {
namespace {

constexpr int kReportSeconds = 300;

SearchOptions JpegOnly()
{
    SearchOptions options;
    options.m_bJpeg = true;
    return options;
}

// The ways of walking that must find the same rows, in the same order, with
// the same progress steps, as one thread asking one call at a time.
struct WalkWay {
    const char* io;
    int threads;
};
constexpr WalkWay kOtherWalks[] = {{"threads", 8}, {"uring", 1}, {"uring", 8}, {"auto", 8}};

std::string NameOf(const WalkWay& way)
{
    return std::string(way.io) + ", " + std::to_string(way.threads) + " threads";
}

// The search as the window runs it: results cleared, table refilled, view rebuilt.
void Search(ResultView& view, const std::string& target, Progress& progress)
{
    view.ClearResults();
    const Watchdog watchdog("searching " + target.substr(0, 200), 300);
    const ScanOutcome outcome = ScanFolder(target, JpegOnly(), view.table, progress);
    ASSERT_EQ(outcome.refusal, SearchRefusal::None);
    view.FillResultView();
}

// A name or path as the report writes it without --null: the log's escapes
// and TAB as %09.
std::string Escaped(std::string_view bytes)
{
    std::string out;
    for (const char c : bytes) {
        const char* escape = c == '%' ? "%25" : c == '\t' ? "%09" : c == '\r' ? "%0D" : c == '\n' ? "%0A" : nullptr;
        out += escape ? std::string(escape) : std::string(1, c);
    }
    return out;
}

// The report's rows of the table; with `null`, NUL-ended and the fields whole.
std::string ReportOf(const FileTable& table, bool null = false)
{
    std::string text;
    for (int k = 0; k < table.RowCount(); ++k) {
        if (null) {
            text += testing::RowLine(table, k) + '\0';
            continue;
        }
        text += Escaped(table.Name(k)) + '\t' + SizeText(table.Size(k)) + '\t' + DateText(table.CreationTime(k)) +
                '\t' + Escaped(table.Path(k)) + '\n';
    }
    return text;
}

// The list rows picked automatically.
std::vector<int> AutoPicked(const ResultView& view, Progress& progress)
{
    return PickOlderCopies(view, progress).picked;
}

// `rows` with the list rows of `paths` added, in list order.
std::vector<int> SelectPaths(const ResultView& view, std::vector<int> rows, const std::vector<std::string>& paths)
{
    for (int j = 0; j < view.list.GetItemCount(); ++j) {
        const std::string path = view.table.Path(view.list.TableRow(j));
        if (std::find(paths.begin(), paths.end(), path) != paths.end())
            rows.push_back(j);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

// Records as the report writes them without --null.
std::string Lines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += Escaped(line) + '\n';
    return text;
}

// --- Every hostile tree through the core and the report mode ---------------

// Every tree is built before the first case, so that the suite waits for a
// newer second once.
class HostileTreeTest : public ::testing::TestWithParam<HostileCase> {
public:
    static void SetUpTestSuite()
    {
        parent_ = std::make_unique<TempDir>();
        trees_ = std::make_unique<BuiltTrees>(CasesToRun(), parent_->Path());
    }
    static void TearDownTestSuite()
    {
        trees_.reset();
        parent_.reset();
    }

protected:
    static inline std::unique_ptr<TempDir> parent_;
    static inline std::unique_ptr<BuiltTrees> trees_;
};

TEST_P(HostileTreeTest, SearchReportAutoSelectAndDelete)
{
    const std::unique_ptr<BuiltTree> built = trees_->Take(GetParam().name);
    const HostileTree& t = built->tree;
    std::optional<WithoutPermissionOverride> asUser;
    if (const std::string why = WhyTreeCannotRun(t, asUser); !why.empty())
        GTEST_SKIP() << why;

    // One thread and many, one call at a time and through io_uring, walk
    // the tree alike: the same rows in the same order, the same progress steps.
    ResultView single;
    RecordingProgress singleSteps;
    {
        const ScanIoMode io("threads");
        const ScanThreads threads(1);
        Search(single, t.root, singleSteps);
    }
    ResultView view;
    for (const WalkWay& way : kOtherWalks) {
        SCOPED_TRACE(NameOf(way));
        RecordingProgress parallelSteps;
        {
            const ScanIoMode io(way.io);
            const ScanThreads threads(way.threads);
            Search(view, t.root, parallelSteps);
        }
        EXPECT_EQ(RelativeRows(view.table, t.root), Sorted(t.rows));
        EXPECT_TRUE(ReportOf(view.table) == ReportOf(single.table)) << "found other rows than one thread";
        EXPECT_EQ(testing::TableIdentities(view.table), testing::TableIdentities(single.table));
        EXPECT_EQ(parallelSteps.ops, singleSteps.ops);
    }
    NullProgress progress;
    for (int k = 0; k < view.table.RowCount(); ++k) {
        const std::string path = view.table.Path(k);
        EXPECT_EQ(view.table.Name(k), path.substr(path.rfind('/') + 1));
        const std::string relative = path.substr(t.root.size() + 1);
        if (const auto it = t.sizeTexts.find(relative); it != t.sizeTexts.end()) {
            EXPECT_EQ(SizeText(view.table.Size(k)), it->second) << relative;
        }
        if (const auto it = t.dateTexts.find(relative); it != t.dateTexts.end()) {
            EXPECT_EQ(DateText(view.table.CreationTime(k)), it->second) << relative;
        }
    }

    const std::string binary = SNAPSIFT_BINARY;
    const bool asUserToo = !t.unreadable.empty();
    const ProgramRun rows = RunProgram({binary, "--report", t.root}, kReportSeconds, asUserToo);
    EXPECT_FALSE(rows.timedOut);
    EXPECT_EQ(rows.status, 0) << rows.err;
    EXPECT_TRUE(rows.out == ReportOf(view.table)) << "the report's rows differ from the search's";
    const ProgramRun whole = RunProgram({binary, "--report", "--null", t.root}, kReportSeconds, asUserToo);
    EXPECT_EQ(whole.status, 0) << whole.err;
    EXPECT_TRUE(whole.out == ReportOf(view.table, true)) << "the report's NUL-ended rows differ from the search's";

    // Every further picture type chosen as well: its passes come after
    // JPEG's, alike with one thread and eight, and as the report gives them.
    SearchOptions all = JpegOnly();
    for (const PictureType& type : PictureTypes())
        all.pictureKinds.Add(type.kind);
    FileTable allSingle;
    RecordingProgress allSingleSteps;
    {
        const Watchdog watchdog("searching every type in " + t.root.substr(0, 200), 300);
        const ScanIoMode io("threads");
        const ScanThreads one(1);
        ScanFolder(t.root, all, allSingle, allSingleSteps);
    }
    for (const WalkWay& way : kOtherWalks) {
        SCOPED_TRACE(NameOf(way));
        FileTable allParallel;
        RecordingProgress allParallelSteps;
        {
            const Watchdog watchdog("searching every type in " + t.root.substr(0, 200), 300);
            const ScanIoMode io(way.io);
            const ScanThreads threads(way.threads);
            ScanFolder(t.root, all, allParallel, allParallelSteps);
        }
        EXPECT_TRUE(ReportOf(allParallel) == ReportOf(allSingle)) << "found other rows than one thread";
        EXPECT_EQ(allParallelSteps.ops, allSingleSteps.ops);
    }
    const ProgramRun typed =
        RunProgram({binary, "--report", "--jpeg", "--types", PictureKindNames(all.pictureKinds), t.root},
                   kReportSeconds, asUserToo);
    EXPECT_EQ(typed.status, 0) << typed.err;
    EXPECT_TRUE(typed.out == ReportOf(allSingle)) << "the report's rows differ from the search's";

    std::vector<std::string> duplicates;
    for (const ComboEntry& entry : view.combo.Entries()) {
        if (entry.kind == ComboEntryKind::Name)
            duplicates.push_back(entry.name);
    }
    const ProgramRun names = RunProgram({binary, "--report", "--duplicates", t.root}, kReportSeconds, asUserToo);
    EXPECT_EQ(names.status, 0) << names.err;
    EXPECT_EQ(names.out, Lines(duplicates));

    const std::vector<int> autoPicked = AutoPicked(view, progress);
    const std::vector<std::string> picked = ListedPaths(view, autoPicked);
    EXPECT_EQ(Sorted(picked), Sorted(Absolute(t.root, t.autoSelected)));
    const ProgramRun autoSelect = RunProgram({binary, "--report", "--auto-select", t.root}, kReportSeconds, asUserToo);
    EXPECT_EQ(autoSelect.status, 0) << autoSelect.err;
    EXPECT_EQ(autoSelect.out, Lines(picked));

    const std::vector<int> selection = SelectPaths(view, autoPicked, Absolute(t.root, t.alsoDeleted));
    const TempDir logFolder;
    const std::string logPath = logFolder / "DeleteLog.log";
    const DeletionCheck check(t, view.table, ListedPaths(view, selection), logPath, Absolute(t.root, t.mayStay));
    RecordingMessenger messenger;
    {
        const Watchdog watchdog("deleting in " + t.root, 300);
        DeleteWithConfirmation(view, selection, messenger, progress, logPath, CurrentTime());
    }
    check.Verify(view.table, messenger.shown);
}

INSTANTIATE_TEST_SUITE_P(Trees, HostileTreeTest, ::testing::ValuesIn(HostileCases()),
                         [](const ::testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

FileIdentity IdentityOf(const std::string& path)
{
    struct stat st { };
    if (lstat(path.c_str(), &st) != 0)
        return {};
    return {(std::uint64_t{major(st.st_dev)} << 32) | minor(st.st_dev), st.st_ino};
}

// --- The tree changes while the walk is under way ---------------------------

// Runs `change` once, on the worker, right before the search opens the
// folder `before` (relative to the target); for the searches in its scope.
class ChangeBeforeOpening final {
public:
    ChangeBeforeOpening(std::string before, std::function<void()> change, bool holdNoFolder)
    {
        ScanHooks hooks;
        hooks.holdNoFolder = holdNoFolder;
        hooks.beforeOpening = [before = std::move(before), change = std::move(change),
                               done = std::make_shared<std::atomic<bool>>(false)](const std::string& relative) {
            if (relative == before && !done->exchange(true))
                change();
        };
        SetScanHooks(std::move(hooks));
    }
    ~ChangeBeforeOpening() { SetScanHooks({}); }
    ChangeBeforeOpening(const ChangeBeforeOpening&) = delete;
    ChangeBeforeOpening& operator=(const ChangeBeforeOpening&) = delete;
};

struct ListingChange {
    const char* name;
    const char* before;  // the folder about to be opened when the change comes
    void (*change)(const std::string& root, const std::string& outside);
    std::vector<std::string> rows;  // what the search must find
    bool asUser = false;            // change and search as a user that permissions bind
};
void PrintTo(const ListingChange& c, std::ostream* out)
{
    *out << c.name;
}

void Replace(const std::string& folder, const std::string& link)
{
    RemoveTree(folder);
    ASSERT_EQ(symlink(link.c_str(), folder.c_str()), 0);
}

// A row describes its file as its folder's listing found it: a change after
// a folder was listed leaves its rows alone, a change before takes effect.
const ListingChange kListingChanges[] = {
    {"nothing", "a", [](const std::string&, const std::string&) {}, {"a/b/x.jpg", "a/gone.jpg", "c/y.jpg", "keep.jpg"}},
    {"file_removed",
     "a",
     [](const std::string& root, const std::string&) { unlink((root + "/a/gone.jpg").c_str()); },
     {"a/b/x.jpg", "c/y.jpg", "keep.jpg"}},
    {"file_removed_after_listing",
     "a/b",
     [](const std::string& root, const std::string&) { unlink((root + "/a/gone.jpg").c_str()); },
     {"a/b/x.jpg", "a/gone.jpg", "c/y.jpg", "keep.jpg"}},
    {"file_became_fifo",
     "c",
     [](const std::string& root, const std::string&) {
         unlink((root + "/c/y.jpg").c_str());
         mkfifo((root + "/c/y.jpg").c_str(), 0644);
     },
     {"a/b/x.jpg", "a/gone.jpg", "keep.jpg"}},
    {"folder_removed",
     "c",
     [](const std::string& root, const std::string&) { RemoveTree(root + "/c"); },
     {"a/b/x.jpg", "a/gone.jpg", "keep.jpg"}},
    {"folder_became_link",
     "c",
     [](const std::string& root, const std::string& outside) { Replace(root + "/c", outside + "/c"); },
     {"a/b/x.jpg", "a/gone.jpg", "keep.jpg"}},
    {"parent_became_link",
     "a/b",
     [](const std::string& root, const std::string& outside) { Replace(root + "/a", outside + "/a"); },
     {"a/gone.jpg", "c/y.jpg", "keep.jpg"}},
    {"folder_became_unreadable",
     "a/b",
     [](const std::string& root, const std::string&) { chmod((root + "/a/b").c_str(), 0); },
     {"a/gone.jpg", "c/y.jpg", "keep.jpg"},
     true},
};

class ListingChangeTest : public ::testing::TestWithParam<ListingChange> { };

// With one thread and with many, one call at a time and through io_uring
// (which opens a folder's subfolders while listing it); with each folder
// opened from its open parent and from the target: a folder that has become
// a link is not entered, and nothing below it is listed.
TEST_P(ListingChangeTest, RowsDescribeWhatTheListingFound)
{
    for (const WalkWay& way :
         {WalkWay{"threads", 1}, WalkWay{"threads", 8}, WalkWay{"uring", 1}, WalkWay{"uring", 8}}) {
        for (const bool holdNoFolder : {false, true}) {
            SCOPED_TRACE(NameOf(way) + (holdNoFolder ? ", opened from the target" : ""));
            const TempDir root;
            const TempDir outside;
            for (const char* file : {"keep.jpg", "a/gone.jpg", "a/b/x.jpg", "c/y.jpg"}) {
                root.MakeFile(file, 3);
                outside.MakeFile(file, 3);
            }
            outside.MakeFile("a/b/planted.jpg", 3);
            outside.MakeFile("c/deeper/planted.jpg", 3);
            std::optional<WithoutPermissionOverride> asUser;
            if (GetParam().asUser) {
                asUser.emplace();
                chmod(root.MakeFolder("probe").c_str(), 0);
                if (CanReadFolder(root / "probe"))
                    GTEST_SKIP() << "file permissions do not bind this user, even without its capabilities";
            }
            ResultView view;
            NullProgress progress;
            {
                const ScanIoMode io(way.io);
                const ScanThreads threads(way.threads);
                const ChangeBeforeOpening change(
                    GetParam().before, [&] { GetParam().change(root.Path(), outside.Path()); }, holdNoFolder);
                Search(view, root.Path(), progress);
            }
            EXPECT_EQ(RelativeRows(view.table, root.Path()), Sorted(GetParam().rows));
            for (const std::string& path : testing::TablePaths(view.table))
                EXPECT_EQ(path.find("planted"), std::string::npos) << path;
            for (int k = 0; k < view.table.RowCount(); ++k) {
                const std::string path = view.table.Path(k);
                const FileIdentity outsideId = IdentityOf(outside / path.substr(root.Path().size() + 1));
                EXPECT_FALSE(outsideId.Known() && outsideId == view.table.Identity(k))
                    << path << " is a file outside the target";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, ListingChangeTest, ::testing::ValuesIn(kListingChanges),
                         [](const ::testing::TestParamInfo<ListingChange>& info) { return info.param.name; });

// --- Few files allowed open ---------------------------------------------------

// Under `ulimit -n 64`, a wide tree whose folders the walk opens ahead of
// their listings: every way of walking finds every row, as with no limit.
TEST(HostileLimits, WideTreeUnderALowFileLimitFindsEveryRow)
{
    const TempDir root;
    std::vector<std::string> rows;
    for (int k = 0; k < 300; ++k) {
        const std::string folder = "w" + std::to_string(k);
        rows.push_back(folder + "/a.jpg");
        rows.push_back(folder + "/s/b.jpg");
    }
    for (const std::string& row : rows)
        root.MakeFile(row, 2);
    const std::string binary = SNAPSIFT_BINARY;
    for (const WalkWay& way : {WalkWay{"threads", 8}, WalkWay{"uring", 1}, WalkWay{"uring", 8}}) {
        SCOPED_TRACE(NameOf(way));
        const ScanIoMode io(way.io);
        const ScanThreads threads(way.threads);
        const ProgramRun run = RunProgram(
            {"/bin/sh", "-c", "ulimit -n 64 && exec \"$0\" --report \"$1\"", binary, root.Path()}, kReportSeconds);
        ASSERT_EQ(run.status, 0) << run.err;
        std::vector<std::string> found;
        for (std::size_t start = 0; start < run.out.size();) {
            const std::size_t end = run.out.find('\n', start);
            const std::string line = run.out.substr(start, end - start);
            found.push_back(line.substr(line.rfind('\t') + 1 + root.Path().size() + 1));
            start = end + 1;
        }
        EXPECT_EQ(Sorted(found), Sorted(rows));
    }
}

// --- The tree changes while the walk runs ----------------------------------

// Another thread moves folders away, puts links to a look-alike tree outside
// in their place and puts them back, adds and removes files, over and over,
// while searches with many threads run. Whatever the search meets, it ends,
// and every row names a file inside the target by a path inside it.
TEST(HostileChanges, WalkWhileTheTreeChangesStaysInsideTheTarget)
{
    const TempDir root;
    const TempDir outside;
    constexpr int kFolders = 24;
    std::vector<std::string> folders;
    for (int k = 0; k < kFolders; ++k) {
        std::string folder = "f";  // appended, not "f" + …: GCC 12 warns falsely on that at -O3
        folder += std::to_string(k);
        folders.push_back(folder);
        for (const std::string& file : {folder + "/x.jpg", folder + "/s/y.jpg", folder + "/s/t/z.jpg"}) {
            root.MakeFile(file, 3);
            outside.MakeFile(file, 3);
        }
        outside.MakeFile(folder + "/s/planted.jpg", 3);
    }
    std::vector<FileIdentity> outsideFiles;
    for (const std::string& folder : folders) {
        for (const std::string& file :
             {folder + "/x.jpg", folder + "/s/y.jpg", folder + "/s/t/z.jpg", folder + "/s/planted.jpg"})
            outsideFiles.push_back(IdentityOf(outside / file));
    }

    std::atomic<int> rounds{0};
    {
        std::jthread changer([&](std::stop_token stop) {
            while (!stop.stop_requested()) {
                for (const std::string& folder : folders) {
                    const std::string path = root / folder;
                    const std::string moved = root / ("moved-" + folder);
                    rename(path.c_str(), moved.c_str());
                    symlink((outside / folder).c_str(), path.c_str());
                    const std::string added = moved + "/s/added.jpg";
                    close(open(added.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
                    unlink(path.c_str());
                    rename(moved.c_str(), path.c_str());
                    unlink((path + "/s/added.jpg").c_str());
                }
                ++rounds;
            }
        });
        const ScanThreads threads(8);
        for (int search = 0; search < 20 || rounds.load() == 0; ++search) {
            // Every other search through io_uring, which opens subfolders ahead.
            const ScanIoMode io(search % 2 == 0 ? "threads" : "uring");
            ResultView view;
            NullProgress progress;
            Search(view, root.Path(), progress);
            for (int k = 0; k < view.table.RowCount(); ++k) {
                const std::string path = view.table.Path(k);
                EXPECT_EQ(path.rfind(root.Path() + "/", 0), 0u) << path;
                EXPECT_EQ(path.find("planted"), std::string::npos) << path;
                EXPECT_EQ(std::count(outsideFiles.begin(), outsideFiles.end(), view.table.Identity(k)), 0)
                    << path << " is a file outside the target";
            }
        }
    }
    // Once the tree holds still, the walk finds all of it again.
    ResultView view;
    NullProgress progress;
    Search(view, root.Path(), progress);
    EXPECT_EQ(view.table.RowCount(), 3 * kFolders);
}

TEST(HostileTarget, UnreadableTargetGivesNoRowsInTheCoreAndStatusTwoInTheReport)
{
    const TempDir root;
    root.MakeFile("x.jpg", 1);
    chmod(root.Path().c_str(), 0);
    {
        const WithoutPermissionOverride asUser;
        if (CanReadFolder(root.Path()))
            GTEST_SKIP() << "file permissions do not bind this user, even without its capabilities";
        ResultView view;
        NullProgress progress;
        Search(view, root.Path(), progress);
        EXPECT_EQ(view.table.RowCount(), 0);
    }
    const ProgramRun run = RunProgram({SNAPSIFT_BINARY, "--report", root.Path()}, kReportSeconds, true);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    chmod(root.Path().c_str(), 0700);
}

// --- Faults around the deletion -------------------------------------------

// The scene: a.jpg and dir/b.jpg, each with a newer copy below sub/, so that
// automatic selection picks exactly those two; each has a twin outside the
// tree with the same size and date text. The log already holds a block.
struct FaultScene {
    std::string root;
    std::string outside;
    std::string logFile;  // the log as a file
    std::string logPath;  // what the command is given
    std::vector<std::function<void()>> undo;
    std::vector<std::function<void()>> checks;  // further checks after the command
};

enum class LogState {
    Written,
    Unchanged
};

struct DeletionFault {
    const char* name;
    std::string (*arrange)(FaultScene& scene);  // returns why it cannot be arranged here, or ""
    std::vector<std::string> stays;             // selected files that must stay (and be named)
    LogState log;
    bool logFails = false;         // the user is told the log failed and nothing moves
    bool asUser = false;           // the command runs as a user that permissions bind
    const char* under = "";        // where the scene is built; "" for the temporary folder
    const char* reason = nullptr;  // what the user is told after each path that stays
    bool fallback = false;         // the block goes to the fallback log, and one message says so
};
void PrintTo(const DeletionFault& c, std::ostream* out)
{
    *out << c.name;
}

std::string FallbackLog()
{
    return SetUpIsolatedHome().stateHome + "/snapsift/DeleteLog.log";
}

// Why permissions would not stop this thread from doing `what` to `path`, or "".
std::string UnlessPermissionsBind(const std::string& path, int what)
{
    const WithoutPermissionOverride asUser;
    return faccessat(AT_FDCWD, path.c_str(), what, AT_EACCESS) == 0 ? "file permissions do not bind this user" : "";
}

std::string Unlink(const std::string& path)
{
    return unlink(path.c_str()) == 0 ? "" : "unlink failed";
}

std::string FillDisk(const std::string& folder)
{
    const int fd = open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    std::string chunk(65536, 'f');
    while (write(fd, chunk.data(), chunk.size()) > 0) {
    }
    close(fd);
    return "";
}

std::string MountSmallTmpfs(FaultScene& s, const std::string& folder, const char* options)
{
    if (!MountRefusal().empty())
        return "cannot mount: " + MountRefusal();
    if (mount("tmpfs", folder.c_str(), "tmpfs", 0, options) != 0)
        return std::string("mounting tmpfs refused: ") + std::strerror(errno);
    s.undo.push_back([folder] { umount2(folder.c_str(), MNT_DETACH); });
    return "";
}

// Makes the log folder the current directory and hands the bare log name.
void UseCurrentDirectory(FaultScene& s)
{
    const std::string folder = s.logFile.substr(0, s.logFile.rfind('/'));
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr)
        previous[0] = '\0';
    const std::string back = previous;
    chdir(folder.c_str());
    s.logPath = "DeleteLog.log";
    s.undo.push_back([back] { chdir(back.c_str()); });
}

void ExpectNoFileAt(FaultScene& s, const std::string& path)
{
    s.checks.push_back([path] { EXPECT_FALSE(IdOf(path).has_value()) << path << " was created"; });
}

// The ends a fault can have. `asUser`: the command runs as a user that
// permissions bind; `under`: where the scene is built ("" for the temporary folder).
using ArrangeFault = std::string (*)(FaultScene& scene);
constexpr bool kAsRoot = false;
constexpr bool kAsUser = true;

// Every selected file moves and the log takes their block.
DeletionFault AllMove(const char* name, ArrangeFault arrange)
{
    return {name, arrange, {}, LogState::Written};
}

// The files `stays` stay and are named with `reason`; the others move and the log names them.
DeletionFault SomeStay(const char* name, ArrangeFault arrange, std::vector<std::string> stays, const char* reason,
                       bool asUser = kAsRoot, const char* under = "")
{
    return {name, arrange, std::move(stays), LogState::Written, false, asUser, under, reason};
}

// The log cannot take the block: nothing moves, and the user is told so.
DeletionFault LogFails(const char* name, ArrangeFault arrange)
{
    return {name, arrange, {"a.jpg", "dir/b.jpg"}, LogState::Unchanged, true};
}

// The log given cannot be written: the block goes to the fallback log, and one message says so.
DeletionFault FallsBack(const char* name, ArrangeFault arrange, bool asUser = kAsRoot)
{
    return {name, arrange, {}, LogState::Unchanged, false, asUser, "", nullptr, true};
}

const DeletionFault kDeletionFaults[] = {
    AllMove("none", [](FaultScene&) -> std::string { return std::string(); }),
    SomeStay(
        "file_deleted", [](FaultScene& s) -> std::string { return Unlink(s.root + "/a.jpg"); }, {"a.jpg"},
        kGoneReasonText),
    SomeStay(
        "file_grown",
        [](FaultScene& s) -> std::string {
            WriteAppend(s.root + "/a.jpg", "+");
            return std::string();
        },
        {"a.jpg"}, kChangedReasonText),
    SomeStay(
        "file_replaced_by_same_size_same_date",
        [](FaultScene& s) -> std::string {
            return rename((s.outside + "/a.jpg").c_str(), (s.root + "/a.jpg").c_str()) == 0 ? "" : "rename failed";
        },
        {"a.jpg"}, kChangedReasonText),
    SomeStay(
        "file_became_fifo",
        [](FaultScene& s) -> std::string {
            unlink((s.root + "/a.jpg").c_str());
            return mkfifo((s.root + "/a.jpg").c_str(), 0644) == 0 ? "" : "mkfifo failed";
        },
        {"a.jpg"}, kChangedReasonText),
    SomeStay(
        "folder_became_link_to_a_twin",
        [](FaultScene& s) -> std::string {
            RemoveTree(s.root + "/dir");
            return symlink((s.outside + "/dir").c_str(), (s.root + "/dir").c_str()) == 0 ? "" : "symlink failed";
        },
        {"dir/b.jpg"}, kChangedReasonText),
    SomeStay(
        "folder_became_unreadable",
        [](FaultScene& s) -> std::string {
            chmod((s.root + "/dir").c_str(), 0);
            return UnlessPermissionsBind(s.root + "/dir", R_OK | X_OK);
        },
        {"dir/b.jpg"}, kChangedReasonText, kAsUser),
    LogFails("log_over_file_size_limit",
             [](FaultScene& s) -> std::string {
                 rlimit previous{};
                 getrlimit(RLIMIT_FSIZE, &previous);
                 rlimit limited = previous;
                 limited.rlim_cur = static_cast<rlim_t>(ReadFile(s.logFile).size() + 10);
                 setrlimit(RLIMIT_FSIZE, &limited);
                 s.undo.push_back([previous] { setrlimit(RLIMIT_FSIZE, &previous); });
                 return std::string();
             }),
    FallsBack("log_on_full_disk",
              [](FaultScene& s) -> std::string {
                  const std::string folder = s.logFile.substr(0, s.logFile.rfind('/'));
                  const std::string before = ReadFile(s.logFile);
                  if (std::string why = MountSmallTmpfs(s, folder, "size=256k"); !why.empty())
                      return why;
                  // A full disk still takes writes into a block the log already
                  // holds: end the log on a block boundary.
                  WriteAppend(s.logFile, before + std::string(4096 - before.size() % 4096 - 2, '#') + "\r\n");
                  return FillDisk(folder);
              }),
    FallsBack("current_directory_read_only",
              [](FaultScene& s) -> std::string {
                  const std::string folder = s.logFile.substr(0, s.logFile.rfind('/'));
                  unlink(s.logFile.c_str());
                  if (!MountRefusal().empty())
                      return "cannot mount: " + MountRefusal();
                  if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
                      mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
                      return std::string("read-only bind mount refused: ") + std::strerror(errno);
                  s.undo.push_back([folder] { umount2(folder.c_str(), MNT_DETACH); });
                  UseCurrentDirectory(s);
                  ExpectNoFileAt(s, s.logFile);
                  return std::string();
              }),
    FallsBack(
        "current_directory_without_write_permission",
        [](FaultScene& s) -> std::string {
            const std::string folder = s.logFile.substr(0, s.logFile.rfind('/'));
            unlink(s.logFile.c_str());
            chmod(folder.c_str(), 0555);
            s.undo.push_back([folder] { chmod(folder.c_str(), 0700); });
            UseCurrentDirectory(s);
            ExpectNoFileAt(s, s.logFile);
            return UnlessPermissionsBind(folder, W_OK);
        },
        kAsUser),
    FallsBack("log_is_a_link",
              [](FaultScene& s) -> std::string {
                  const std::string target = s.outside + "/elsewhere.log";
                  const std::string content = ReadFile(s.logFile);
                  WriteAppend(target, content);
                  unlink(s.logFile.c_str());
                  symlink(target.c_str(), s.logFile.c_str());
                  s.checks.push_back([target, content] { EXPECT_EQ(ReadFile(target), content); });
                  return std::string();
              }),
    FallsBack("log_is_a_dangling_link",
              [](FaultScene& s) -> std::string {
                  const std::string target = s.outside + "/new.log";
                  unlink(s.logFile.c_str());
                  symlink(target.c_str(), s.logFile.c_str());
                  ExpectNoFileAt(s, target);
                  return std::string();
              }),
    FallsBack("log_is_a_fifo",
              [](FaultScene& s) -> std::string {
                  unlink(s.logFile.c_str());
                  return mkfifo(s.logFile.c_str(), 0644) == 0 ? "" : "mkfifo failed";
              }),
    FallsBack("log_is_a_folder",
              [](FaultScene& s) -> std::string {
                  unlink(s.logFile.c_str());
                  return mkdir(s.logFile.c_str(), 0755) == 0 ? "" : "mkdir failed";
              }),
    SomeStay(
        "trash_refuses_a_system_mount", [](FaultScene&) -> std::string { return std::string(); },
        {"a.jpg", "dir/b.jpg"}, kRefusedReasonText, kAsRoot, "/dev/shm"),
    SomeStay(
        "trash_folder_is_a_file",
        [](FaultScene& s) -> std::string {
            const std::string files = SetUpIsolatedHome().trashFiles;
            const std::string aside = files + ".aside";
            MakeFileAt("/", files.substr(1) + "/.keep", 0);
            rename(files.c_str(), aside.c_str());
            WriteAppend(files, "not a folder");
            s.undo.push_back([files, aside] {
                unlink(files.c_str());
                rename(aside.c_str(), files.c_str());
            });
            return std::string();
        },
        {"a.jpg", "dir/b.jpg"}, kRefusedReasonText),
};

// Makes `path` and its twin with one size and one date text; false when
// they could not be made within one second.
bool MakeTwins(const TempDir& root, const TempDir& outside, const std::string& relative, std::uint64_t size)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const auto a = StatRegularFile(root.MakeFile(relative, size));
        const auto b = StatRegularFile(outside.MakeFile(relative, size));
        if (a && b && DateText(a->creationTime) == DateText(b->creationTime))
            return true;
    }
    return false;
}

// The folders of one fault's scene: twins in the root and outside it, and
// newer copies below the root's "sub".
struct FaultFolders {
    explicit FaultFolders(const char* under) : root(under) { }
    TempDir root;
    TempDir outside;
    TempDir logFolder;
    bool twins = false;  // the twins could be made within one second
};

// Every scene is made before the first case: the older files of all, one
// wait for a newer second (the file systems share the kernel's clock), then
// the newer files of all.
class DeletionFaultTest : public ::testing::TestWithParam<DeletionFault> {
public:
    static void SetUpTestSuite()
    {
        for (const DeletionFault& fault : kDeletionFaults) {
            if (!SuiteRunsWith(fault.name) || (*fault.under && access(fault.under, W_OK) != 0))
                continue;
            auto folders = std::make_unique<FaultFolders>(fault.under);
            folders->twins = MakeTwins(folders->root, folders->outside, "a.jpg", 10) &&
                             MakeTwins(folders->root, folders->outside, "dir/b.jpg", 20);
            scenes_[fault.name] = std::move(folders);
        }
        if (scenes_.empty())
            return;
        WaitForNewerSecond(scenes_.begin()->second->root.Path());
        for (const auto& [name, folders] : scenes_) {
            folders->root.MakeFile("sub/a.jpg", 10);
            folders->root.MakeFile("sub/b.jpg", 20);
        }
    }
    static void TearDownTestSuite() { scenes_.clear(); }

protected:
    static inline std::map<std::string, std::unique_ptr<FaultFolders>> scenes_;
};

TEST_P(DeletionFaultTest, EndsInTheStatedState)
{
    const DeletionFault& fault = GetParam();
    if (*fault.under && access(fault.under, W_OK) != 0)
        GTEST_SKIP() << fault.under << " is not there to build in";
    const auto made = scenes_.find(fault.name);
    ASSERT_NE(made, scenes_.end());
    const std::unique_ptr<FaultFolders> folders = std::move(made->second);
    scenes_.erase(made);
    ASSERT_TRUE(folders->twins) << "could not make two files within one second";
    const TempDir& root = folders->root;
    const TempDir& outside = folders->outside;
    const TempDir& logFolder = folders->logFolder;
    const std::string earlier = "## earlier block ##\r\n/some/where.jpg\r\n";

    FaultScene scene{root.Path(), outside.Path(), logFolder / "DeleteLog.log", logFolder / "DeleteLog.log", {}, {}};
    WriteAppend(scene.logFile, earlier);

    ResultView view;
    NullProgress progress;
    Search(view, root.Path(), progress);
    const std::vector<int> selection = AutoPicked(view, progress);
    const std::vector<std::string> selected = ListedPaths(view, selection);
    ASSERT_EQ(Sorted(selected), Sorted({root / "a.jpg", root / "dir/b.jpg"}));
    const std::vector<std::string> others = {root / "sub/a.jpg", root / "sub/b.jpg"};

    const std::string why = fault.arrange(scene);
    if (!why.empty()) {
        for (auto it = scene.undo.rbegin(); it != scene.undo.rend(); ++it)
            (*it)();
        GTEST_SKIP() << why;
    }
    std::map<std::string, std::optional<FileId>> ids;
    for (const std::string& path : selected)
        ids[path] = IdOf(path);
    for (const std::string& path : others)
        ids[path] = IdOf(path);
    const std::string logBefore = ReadLog(scene.logFile);
    const std::string fallbackBefore = ReadLog(FallbackLog());

    RecordingMessenger messenger;
    {
        const Watchdog watchdog(std::string("deleting with fault ") + fault.name, 120);
        std::optional<WithoutPermissionOverride> asUser;
        if (fault.asUser)
            asUser.emplace();
        DeleteWithConfirmation(view, selection, messenger, progress, scene.logPath, CurrentTime());
    }
    const std::string logAfter = ReadLog(scene.logFile);
    const std::string fallbackAfter = ReadLog(FallbackLog());
    for (auto it = scene.undo.rbegin(); it != scene.undo.rend(); ++it)
        (*it)();

    // What was moved.
    std::vector<std::string> trashes = {SetUpIsolatedHome().trashFiles};
    const std::vector<std::string> stays =
        fault.logFails ? std::vector<std::string>{} : Absolute(root.Path(), fault.stays);
    for (const std::string& path : selected) {
        const bool mustStay = fault.logFails || std::find(stays.begin(), stays.end(), path) != stays.end();
        const auto now = IdOf(path);
        if (mustStay) {
            EXPECT_EQ(now, ids[path]) << path;
            if (ids[path]) {
                EXPECT_FALSE(InTrash(*ids[path], trashes)) << path;
            }
        } else {
            EXPECT_FALSE(now.has_value()) << path;
            EXPECT_TRUE(ids[path] && InTrash(*ids[path], trashes)) << path;
        }
        const std::vector<std::string> rows = testing::TablePaths(view.table);
        const bool rowKept = std::count(rows.begin(), rows.end(), path) == 1;
        EXPECT_EQ(rowKept, mustStay) << path;
    }
    for (const std::string& path : others)
        EXPECT_EQ(IdOf(path), ids[path]) << path;
    EXPECT_TRUE(IdOf(outside / "dir/b.jpg").has_value());

    // What was logged, and where: every deletion that moved files has its
    // block, naming the moved files only; one that moved none has none.
    std::vector<std::string> lines;
    for (const std::string& path : selected) {
        if (std::find(stays.begin(), stays.end(), path) == stays.end())
            lines.push_back(LogLine(path));
    }
    if (fault.log == LogState::Unchanged || lines.empty())
        EXPECT_EQ(logAfter, logBefore);
    else
        EXPECT_EQ(AppendedLogPaths(logBefore, logAfter), lines);
    if (fault.fallback && !lines.empty())
        EXPECT_EQ(AppendedLogPaths(fallbackBefore, fallbackAfter), lines);
    else
        EXPECT_EQ(fallbackAfter, fallbackBefore);

    // What the user was told.
    ASSERT_FALSE(messenger.shown.empty());
    EXPECT_EQ(messenger.shown[0].buttons, MessageButtons::OkCancel);
    if (fault.logFails) {
        ASSERT_EQ(messenger.shown.size(), 2u);
        EXPECT_EQ(messenger.shown[1].text.rfind(kLogWriteFailedText, 0), 0u) << messenger.shown[1].text;
    } else if (fault.fallback) {
        ASSERT_EQ(messenger.shown.size(), 2u);
        const std::string& text = messenger.shown[1].text;
        EXPECT_EQ(text.rfind("削除ログ(DeleteLog.log)を", 0), 0u) << text;
        EXPECT_EQ(text.substr(text.size() - FallbackLog().size()), FallbackLog()) << text;
    } else if (stays.empty()) {
        EXPECT_EQ(messenger.shown.size(), 1u) << messenger.shown.back().text;
    } else {
        ASSERT_EQ(messenger.shown.size(), 2u);
        EXPECT_EQ(messenger.shown[1].text.rfind(kNotMovedText, 0), 0u);
        for (const std::string& path : stays)
            EXPECT_NE(messenger.shown[1].text.find(path + " （" + fault.reason), std::string::npos) << path;
    }
    for (const auto& check : scene.checks)
        check();
}

INSTANTIATE_TEST_SUITE_P(Faults, DeletionFaultTest, ::testing::ValuesIn(kDeletionFaults),
                         [](const ::testing::TestParamInfo<DeletionFault>& info) { return info.param.name; });

// --- The home as the user has it --------------------------------------------

// The home folder searched whole (the desktop folder is the home where no
// desktop folder is set up), with the trash inside it holding a newer copy of
// a live picture: the trashed copy is no row, so the live one is not picked.
// The home is reached through a link, as HOME names it, or directly.
TEST(HostileHome, TheTrashInsideTheSearchedHomeIsNotSearched)
{
    const IsolatedHome& home = SetUpIsolatedHome();
    const TempDir pictures(home.home);
    const std::string live = pictures.MakeFile("a.jpg", 7);
    WaitForNewerSecond(pictures.Path());
    const std::string newer = pictures.MakeFile("new/a.jpg", 7);
    ASSERT_TRUE(MoveToTrash(newer).ok);
    ASSERT_FALSE(IdOf(newer).has_value());

    const std::string viaLinkAndDots = home.homeLink + "/.." + home.home.substr(home.home.rfind('/'));
    for (const std::string& target : {home.home, home.homeLink, viaLinkAndDots}) {
        SCOPED_TRACE(target);
        ResultView view;
        NullProgress progress;
        Search(view, target, progress);
        std::vector<std::string> rows;
        for (const std::string& path : testing::TablePaths(view.table)) {
            if (path.find("/a.jpg") != std::string::npos)
                rows.push_back(path);
        }
        EXPECT_EQ(rows, (std::vector<std::string>{live}));
        EXPECT_TRUE(AutoPicked(view, progress).empty());

        const ProgramRun report = RunProgram({SNAPSIFT_BINARY, "--report", "--auto-select", target}, kReportSeconds);
        EXPECT_EQ(report.status, 0) << report.err;
        EXPECT_EQ(report.out, "");
    }
}

// The user's thumbnail store inside the searched home, named through the
// link HOME is, and a shared store of a picture folder: neither is searched,
// by the core or the report, nor when it is the target or holds it.
TEST(HostileHome, TheThumbnailStoresInsideTheSearchedHomeAreNotSearched)
{
    const IsolatedHome& home = SetUpIsolatedHome();
    const TempDir pictures(home.home);
    const std::string live = pictures.MakeFile("p.png", 7);
    const std::string store = home.home + "/var/cache/thumbnails";
    for (const char* thumbnail : {"normal/0123.png", "large/4567.png", "fail/snapsift-1.0/89ab.png"})
        MakeFileAt(home.home, std::string("var/cache/thumbnails/") + thumbnail, 7);
    pictures.MakeFile(".sh_thumbnails/normal/p.png", 7);

    SearchOptions png;
    png.pictureKinds.Add(PictureKind::Png);
    for (const std::string& target : {home.home, home.homeLink, store, store + "/normal", home.cacheHome}) {
        SCOPED_TRACE(target);
        const bool holdsLive = target == home.home || target == home.homeLink;
        FileTable table;
        NullProgress progress;
        EXPECT_EQ(ScanFolder(target, png, table, progress).refusal, SearchRefusal::None);
        EXPECT_EQ(testing::TablePaths(table), holdsLive ? std::vector<std::string>{live} : std::vector<std::string>{});
        for (const char* option : {"--types", "--other"}) {
            const ProgramRun report = RunProgram({SNAPSIFT_BINARY, "--report", option, "png", target}, kReportSeconds);
            EXPECT_EQ(report.status, 0) << report.err;
            EXPECT_EQ(report.out.find("thumbnails"), std::string::npos) << option << "\n" << report.out;
            EXPECT_EQ(report.out.find(live) != std::string::npos, holdsLive) << option;
        }
    }
}

// --- Two deletions at once ------------------------------------------------

// Another deletion holds the log and writes its block in two parts; two more
// deletions come meanwhile, each waiting for the lock. Every block ends up
// whole, one after another, whatever order the two waiting ones get it in.
TEST(HostileLog, DeletionsAtOnceEachLeaveTheirWholeBlock)
{
    const TempDir folder;
    const std::string log = folder / "DeleteLog.log";
    const std::string earlier = "## earlier block ##\r\n/some/where.jpg\r\n";
    WriteAppend(log, earlier);
    const std::string held = DeletionLogBlock(1700000000, {"/held/100%.jpg", "/held/b.jpg"});

    const int holder = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    ASSERT_EQ(write(holder, held.data(), held.size() / 2), static_cast<ssize_t>(held.size() / 2));

    std::mutex mutex;
    std::condition_variable changed;
    bool secondWaiting = false;
    LogOutcome second = LogOutcome::NotOpened;
    std::thread other;
    int firstWaits = 0;
    const Watchdog watchdog("two deletions writing one log", 120);
    const LogOutcome first = AppendDeletionLog(1700000001, {"/first/a.jpg"}, log, [&] {
        if (++firstWaits != 1)
            return;
        // The first is waiting: start the second, and once it waits too,
        // let the holder finish its block and give up the lock.
        other = std::thread([&] {
            second = AppendDeletionLog(1700000002, {"/second/a\nb.jpg"}, log, [&] {
                std::lock_guard lock(mutex);
                secondWaiting = true;
                changed.notify_all();
            });
        });
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return secondWaiting; });
        const std::string rest = held.substr(held.size() / 2);
        EXPECT_EQ(write(holder, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
        close(holder);
    });
    other.join();
    EXPECT_EQ(first, LogOutcome::Written);
    EXPECT_EQ(second, LogOutcome::Written);
    EXPECT_GE(firstWaits, 1);
    const std::string a = DeletionLogBlock(1700000001, {"/first/a.jpg"});
    const std::string b = DeletionLogBlock(1700000002, {"/second/a\nb.jpg"});
    const std::string content = ReadLog(log);
    EXPECT_TRUE(content == earlier + held + a + b || content == earlier + held + b + a) << content;
    EXPECT_NE(held.find("/held/100%25.jpg\r\n"), std::string::npos);

    // A lock that is never given up is reported as such.
    const int stuck = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_EQ(flock(stuck, LOCK_EX), 0);
    int waits = 0;
    EXPECT_EQ(AppendDeletionLog(
                  1700000003, {"/late.jpg"}, log, [&] { ++waits; }, std::chrono::milliseconds(50)),
              LogOutcome::Locked);
    EXPECT_GE(waits, 1);
    close(stuck);
    EXPECT_EQ(ReadLog(log), content);
}

// Automatic selection orders copies by time even where the year has more or
// fewer than four digits (file systems with 64-bit times hold such dates).
TEST(HostileTimes, AutomaticSelectionOrdersYearsOfAnyLength)
{
    ResultView view;
    const std::int64_t year500 = -46388678400;    // 0500-01-01 UTC
    const std::int64_t year1999 = 932040000;      // 1999-07-15 12:00 UTC
    const std::int64_t year2000 = 946684800;      // 2000-01-01 UTC
    const std::int64_t year12000 = 316536883200;  // 12000-01-01 UTC
    testing::AddFoundFile(view.table, {"a.jpg", "/t/old", 1, year500});
    testing::AddFoundFile(view.table, {"a.jpg", "/t/new", 1, year1999});
    testing::AddFoundFile(view.table, {"b.jpg", "/t/new", 1, year12000});
    testing::AddFoundFile(view.table, {"b.jpg", "/t/old", 1, year2000});
    view.FillResultView();
    NullProgress progress;
    EXPECT_EQ(Sorted(ListedPaths(view, AutoPicked(view, progress))), Sorted({"/t/old/a.jpg", "/t/old/b.jpg"}));
}

}  // namespace
}  // namespace snapsift::testing

int main(int argc, char** argv)
{
    snapsift::testing::SetUpHostileProcess();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
