// SPDX-License-Identifier: MIT
// The folder scan on real temporary trees.

#include "scan/file_table.h"
#include "scan/folder_scan.h"
#include "scan/parallel_walk.h"
#include "scan/uring_queue.h"
#include "support/table_rows.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sstream>
#include <stop_token>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace snapsift {
namespace {

using Strings = std::vector<std::string>;

SearchOptions Types(bool jpeg, bool bmp, bool gif, const char* other = nullptr)
{
    SearchOptions options;
    options.m_bJpeg = jpeg;
    options.m_bBmp = bmp;
    options.m_bGif = gif;
    options.m_bOther = other != nullptr;
    options.m_strOtherExt = other ? other : "";
    return options;
}

const SearchOptions kJpeg = Types(true, false, false);

Strings Repeat(const std::string& text, int times)
{
    return Strings(static_cast<std::size_t>(times), text);
}

Strings Concat(std::initializer_list<Strings> parts)
{
    Strings all;
    for (const Strings& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A file system mounted for one test and detached when the test ends.
class Mount final {
public:
    Mount(const std::string& source, const std::string& at, const char* type, unsigned long flags) : at_(at)
    {
        ok_ = mount(source.c_str(), at.c_str(), type, flags, nullptr) == 0;
        if (!ok_)
            error_ = std::strerror(errno);
    }
    ~Mount()
    {
        if (ok_)
            umount2(at_.c_str(), MNT_DETACH);
    }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    bool Ok() const { return ok_; }
    const std::string& Error() const { return error_; }

private:
    std::string at_;
    bool ok_ = false;
    std::string error_;
};

// Every case one call at a time ("threads") and through io_uring ("uring").
class ScanTest : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite()
    {
        testing::SetEnv("TZ", "Asia/Tokyo");
        tzset();
    }
    void SetUp() override { testing::SetEnv("SNAPSIFT_SCAN_IO", GetParam()); }
    void TearDown() override { unsetenv("SNAPSIFT_SCAN_IO"); }

    ScanOutcome Scan(const std::string& target, const SearchOptions& options)
    {
        return ScanFolder(target, options, table, progress);
    }

    // The paths of the rows, each relative to the temporary folder.
    Strings RelativePaths() const
    {
        Strings paths;
        for (const std::string& path : testing::TablePaths(table)) {
            EXPECT_EQ(path.rfind(tmp.Path() + "/", 0), 0u) << path;
            paths.push_back(path.substr(tmp.Path().size() + 1));
        }
        return paths;
    }

    testing::TempDir tmp;
    FileTable table;
    testing::RecordingProgress progress;
};

Strings Names(const FileTable& table)
{
    return testing::TableNames(table);
}
Strings Sizes(const FileTable& table)
{
    return testing::TableSizeTexts(table);
}

TEST_P(ScanTest, RefusedOptionsSayWhyAndChangeNothing)
{
    struct Case {
        const char* label;
        SearchOptions options;
        SearchRefusal refusal;
    };
    SearchOptions typedButNotTicked;
    typedButNotTicked.m_strOtherExt = "png";
    const std::vector<Case> cases = {
        {"other ticked, no extension, JPEG ticked", Types(true, false, false, ""), SearchRefusal::NeedOtherExtension},
        {"other ticked alone, no extension", Types(false, false, false, ""), SearchRefusal::NeedOtherExtension},
        {"nothing ticked", Types(false, false, false), SearchRefusal::NeedFileType},
        {"extension typed but not ticked", typedButNotTicked, SearchRefusal::NeedFileType},
        {"JPEG ticked", kJpeg, SearchRefusal::None},
    };
    tmp.MakeFile("T/a.jpg", 1);
    tmp.MakeFile("T/s/b.jpg", 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(CheckSearchOptions(c.options), c.refusal);
        if (c.refusal == SearchRefusal::None)
            continue;
        table.ClearFileTable();
        testing::AddFoundFile(table, {"old.jpg", "/old", 7, 0});
        progress.ops.clear();

        const ScanOutcome outcome = Scan(tmp / "T", c.options);
        EXPECT_EQ(outcome.refusal, c.refusal);
        EXPECT_EQ(outcome.rowsAdded, 0);
        EXPECT_EQ(outcome.canonicalTarget, "");
        EXPECT_TRUE(progress.ops.empty());
        EXPECT_EQ(testing::TablePaths(table), Strings{"/old/old.jpg"});
    }
}

TEST_P(ScanTest, TwoLevelTreeWithTwoTypes)
{
    for (const char* folder : {"T", "T/A", "T/B", "T/A/A1", "T/B/B1"}) {
        tmp.MakeFile(std::string(folder) + "/x.jpg", 3);
        tmp.MakeFile(std::string(folder) + "/y.gif", 4);
        tmp.MakeFile(std::string(folder) + "/z.bmp", 5);
    }
    testing::AddFoundFile(table, {"old.jpg", "/old", 7, 0});

    const ScanOutcome outcome = Scan(tmp / "T", Types(true, false, true));
    EXPECT_EQ(outcome.refusal, SearchRefusal::None);
    EXPECT_EQ(outcome.rowsAdded, 10);

    const Strings expectedOps = Concat({{"range 0 2", "delta 3", "delta 4", "delta 4", "delta 4", "pos 0", "range 0 8"},
                                        Repeat("delta 1", 10),
                                        {"pos 0"}});
    EXPECT_EQ(progress.ops, expectedOps);
    const Strings order = {"T/", "T/B/B1/", "T/A/A1/", "T/B/", "T/A/"};
    Strings expectedPaths;
    for (const char* name : {"x.jpg", "y.gif"}) {
        for (const std::string& folder : order)
            expectedPaths.push_back(folder + name);
    }
    EXPECT_EQ(RelativePaths(), expectedPaths);
    EXPECT_EQ(Names(table), Concat({Repeat("x.jpg", 5), Repeat("y.gif", 5)}));
    EXPECT_EQ(Sizes(table), Concat({Repeat("3byte", 5), Repeat("4byte", 5)}));
}

// The walk says how far it is after every folder: one more listed each
// time, of all the folders found so far, until every one is listed.
TEST_P(ScanTest, WalkTellsFoldersListedOfFoldersKnown)
{
    struct Walk final : Progress {
        void SetRange(int, int) override { }
        void DeltaPos(int) override { }
        void SetPos(int) override { }
        void FolderListed(long long listed, long long known) override { calls.emplace_back(listed, known); }
        std::vector<std::pair<long long, long long>> calls;
    };
    const std::vector<std::pair<const char*, std::vector<std::pair<long long, long long>>>> cases = {
        {"T", {{1, 1}}},
        {"T/A", {{1, 2}, {2, 2}}},
        {"T/A/A1 T/B/B1", {{1, 3}, {2, 4}, {3, 5}, {4, 5}, {5, 5}}},
    };
    int tree = 0;
    for (const auto& [folders, expected] : cases) {
        SCOPED_TRACE(folders);
        const std::string root = "W" + std::to_string(tree++);
        tmp.MakeFile(root + "/x.jpg", 1);
        std::istringstream words(folders);
        for (std::string folder; words >> folder;)
            tmp.MakeFile(root + folder.substr(1) + "/x.jpg", 1);
        Walk walk;
        ScanFolder(tmp / root, kJpeg, table, walk);
        EXPECT_EQ(walk.calls, expected);
    }
}

TEST_P(ScanTest, TargetWithoutSubfoldersIsSearchedAlone)
{
    tmp.MakeFile("T/a.jpg");
    tmp.MakeFile("T/b.bmp");
    tmp.MakeFile("T/c.gif");
    EXPECT_EQ(Scan(tmp / "T", Types(true, true, false)).rowsAdded, 2);
    EXPECT_EQ(progress.ops, (Strings{"range 0 0", "pos 0", "range 0 0", "delta 1", "delta 1", "pos 0"}));
    EXPECT_EQ(RelativePaths(), (Strings{"T/a.jpg", "T/b.bmp"}));
}

TEST_P(ScanTest, TargetThatIsNoFolderGivesNoRowsAndSaysWhy)
{
    tmp.MakeFile("file.jpg", 1);
    std::vector<std::pair<std::string, int>> cases = {
        {tmp / "missing", ENOENT}, {tmp / "file.jpg", ENOTDIR}, {tmp / "missing/deeper", ENOENT}};
    if (geteuid() != 0) {  // root reads any folder
        const std::string closed = tmp.MakeFolder("closed");
        tmp.MakeFile("closed/a.jpg", 1);
        ASSERT_EQ(chmod(closed.c_str(), 0), 0);
        cases.emplace_back(closed, EACCES);
    }
    for (const auto& [target, error] : cases) {
        SCOPED_TRACE(target);
        testing::AddFoundFile(table, {"old.jpg", "/old", 7, 0});
        progress.ops.clear();
        const ScanOutcome outcome = Scan(target, kJpeg);
        EXPECT_EQ(outcome.refusal, SearchRefusal::None);
        EXPECT_EQ(outcome.targetError, error) << std::strerror(outcome.targetError);
        EXPECT_EQ(outcome.rowsAdded, 0);
        EXPECT_EQ(table.RowCount(), 0);
        EXPECT_EQ(progress.ops, (Strings{"range 0 0", "pos 0", "range 0 0", "delta 1", "pos 0"}));
    }
}

TEST_P(ScanTest, FullPathIsTheAbsoluteTargetSlashName)
{
    tmp.MakeFile("T/s/b.jpg");
    char saved[PATH_MAX];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(symlink("T/s/..", (tmp / "link").c_str()), 0);
    for (const std::string& target :
         {tmp / "T", tmp / "T/", std::string("T"), std::string("./T/s/../"), tmp / "link"}) {
        ASSERT_EQ(chdir(tmp.Path().c_str()), 0);
        const ScanOutcome outcome = Scan(target, kJpeg);
        ASSERT_EQ(chdir(saved), 0);
        EXPECT_EQ(testing::TablePaths(table), Strings{tmp / "T/s/b.jpg"}) << target;
        // What was searched, as the search resolved it.
        EXPECT_EQ(outcome.canonicalTarget, tmp / "T") << target;
        EXPECT_EQ(outcome.targetError, 0) << target;
    }
}

TEST_P(ScanTest, JpegPassFindsCaseVariantsAndOnlyRegularFiles)
{
    tmp.WriteFile("T/a.JPG", "1");
    tmp.WriteFile("T/b.Jpg", "22");
    tmp.WriteFile("T/c.jpg", "333");
    tmp.MakeFile("T/empty.jpg", 0);
    tmp.MakeFile("T/big.jpg", 5000000000ULL);  // sparse
    for (const char* miss : {"T/d.jpgx", "T/e.jpeg", "T/jpg", "T/f.bmp", "T/g.jpg.txt"})
        tmp.MakeFile(miss, 1);
    tmp.MakeFile("T/x.jpg/inner.jpg", 4);  // a folder named like a picture
    ASSERT_EQ(mkfifo((tmp / "T/fifo.jpg").c_str(), 0644), 0);
    ASSERT_EQ(symlink("c.jpg", (tmp / "T/link.jpg").c_str()), 0);
    ASSERT_EQ(symlink("missing.jpg", (tmp / "T/dangling.jpg").c_str()), 0);

    Scan(tmp / "T", kJpeg);
    EXPECT_EQ(Names(table), (Strings{"a.JPG", "b.Jpg", "big.jpg", "c.jpg", "empty.jpg", "inner.jpg"}));
    EXPECT_EQ(Sizes(table), (Strings{"1byte", "2byte", "5000000000byte", "3byte", "0byte", "4byte"}));
    EXPECT_EQ(RelativePaths().back(), "T/x.jpg/inner.jpg");
}

TEST_P(ScanTest, RowsComePassByPassThenTargetFirstThenNameOrder)
{
    for (const char* name :
         {"w.png", "x.gif", "y.bmp", "z.jpg", "b.jpg", "A.jpg", "a.jpg", "C.jpg", "s/v.jpg", "s/u.png"})
        tmp.MakeFile(std::string("T/") + name);
    Scan(tmp / "T", Types(true, true, true, "png"));
    EXPECT_EQ(RelativePaths(), (Strings{"T/A.jpg", "T/a.jpg", "T/b.jpg", "T/C.jpg", "T/z.jpg", "T/s/v.jpg", "T/y.bmp",
                                        "T/x.gif", "T/w.png", "T/s/u.png"}));
}

// A stop while the listed files are put in order, after any step: the rows
// are a prefix of the whole search's, each with its own folder, and more
// steps never give fewer rows. Folders here match only some of the types,
// some only later ones, so that a folder's first row can come in any pass.
TEST_P(ScanTest, StopWhilePuttingRowsInOrderKeepsAPrefixOfTheRows)
{
    for (const char* name : {"T/b.gif", "T/a.jpg", "T/A/c.bmp", "T/B/d.jpg", "T/B/e.gif", "T/B/f.bmp", "T/C/g.gif",
                             "T/C/h.gif", "T/C/D/i.jpg", "T/C/D/j.bmp", "T/E/k.png"})
        tmp.MakeFile(name, 1);
    const SearchOptions options = Types(true, true, true, "png");
    Scan(tmp / "T", options);
    const Strings whole = RelativePaths();
    ASSERT_EQ(whole.size(), 11u);

    // Asks for a stop at the given step of the passes (after the walk's
    // steps, which end with its own range being set back).
    struct StopAtStep final : Progress {
        void SetRange(int, int) override { passes = walked; }
        void DeltaPos(int) override
        {
            if (passes && ++steps == stopAt)
                stop.request_stop();
        }
        void SetPos(int) override { walked = true; }
        std::stop_source stop;
        int stopAt = 0;
        int steps = 0;
        bool walked = false;
        bool passes = false;
    };
    const int allSteps = 6 * 4;  // six folders, four types
    std::size_t rowsBefore = 0;
    bool somePartOfTheRows = false;
    for (int stopAt = 1; stopAt <= allSteps; ++stopAt) {
        SCOPED_TRACE(stopAt);
        StopAtStep steps;
        steps.stopAt = stopAt;
        const ScanOutcome outcome = ScanFolder(tmp / "T", options, table, steps, steps.stop.get_token());
        // Asked during the last folder's steps, nothing is left to stop.
        EXPECT_EQ(outcome.stopped, stopAt <= allSteps - 4);
        const Strings rows = RelativePaths();
        ASSERT_LE(rows.size(), whole.size());
        EXPECT_EQ(rows, Strings(whole.begin(), whole.begin() + static_cast<long>(rows.size())));
        EXPECT_EQ(outcome.rowsAdded, static_cast<int>(rows.size()));
        EXPECT_GE(rows.size(), rowsBefore);
        rowsBefore = rows.size();
        somePartOfTheRows = somePartOfTheRows || (!rows.empty() && rows.size() < whole.size());
    }
    EXPECT_EQ(rowsBefore, whole.size());
    EXPECT_TRUE(somePartOfTheRows);
}

TEST_P(ScanTest, OtherExtensionEqualToJpegListsEachFileTwice)
{
    tmp.WriteFile("T/a.jpg", "aa");
    tmp.WriteFile("T/B.JPG", "bbb");
    Scan(tmp / "T", Types(true, false, false, "JPG"));
    ASSERT_EQ(table.RowCount(), 4);
    EXPECT_EQ(Names(table), (Strings{"a.jpg", "B.JPG", "a.jpg", "B.JPG"}));
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(table.Size(k), table.Size(k + 2));
        EXPECT_EQ(table.CreationTime(k), table.CreationTime(k + 2));
        EXPECT_EQ(table.Path(k), table.Path(k + 2));
    }
}

TEST_P(ScanTest, OtherExtensionTakesWildcards)
{
    for (const char* name : {"a.jpg", "b.jpeg", "c.j", "d.JPEG", "x.gif", "a.tar.gz", "noext"})
        tmp.MakeFile(std::string("T/") + name);
    struct Case {
        const char* ext;
        Strings names;
    };
    const std::vector<Case> cases = {
        {"j*", {"a.jpg", "b.jpeg", "c.j", "d.JPEG"}},
        {"jp?g", {"b.jpeg", "d.JPEG"}},
        {"?if", {"x.gif"}},
        {"gz", {"a.tar.gz"}},
        {"tar.gz", {"a.tar.gz"}},
        // Stars alone match every file, also one without a dot.
        {"*", {"a.jpg", "a.tar.gz", "b.jpeg", "c.j", "d.JPEG", "noext", "x.gif"}},
        {"**", {"a.jpg", "a.tar.gz", "b.jpeg", "c.j", "d.JPEG", "noext", "x.gif"}},
        {"*?", {"a.jpg", "a.tar.gz", "b.jpeg", "c.j", "d.JPEG", "x.gif"}},
        {"png", {}},
    };
    for (const Case& c : cases) {
        Scan(tmp / "T", Types(false, false, false, c.ext));
        EXPECT_EQ(Names(table), c.names) << c.ext;
    }
}

TEST_P(ScanTest, SymbolicLinksAreNotFollowedHardLinksAreListedUnderEachName)
{
    const std::string real = tmp.WriteFile("T/real.jpg", "12345");
    tmp.MakeFile("Other/o.jpg", 1);
    ASSERT_EQ(symlink(".", (tmp / "T/loop").c_str()), 0);
    ASSERT_EQ(symlink("..", (tmp / "T/up").c_str()), 0);
    ASSERT_EQ(symlink((tmp / "Other").c_str(), (tmp / "T/linkdir").c_str()), 0);
    ASSERT_EQ(symlink("../Other/o.jpg", (tmp / "T/o.jpg").c_str()), 0);
    ASSERT_EQ(link(real.c_str(), (tmp / "T/hard.jpg").c_str()), 0);
    Scan(tmp / "T", kJpeg);
    EXPECT_EQ(RelativePaths(), (Strings{"T/hard.jpg", "T/real.jpg"}));
    EXPECT_EQ(Sizes(table), Repeat("5byte", 2));
    EXPECT_EQ(progress.ops.front(), "range 0 0");  // no link counted as a subfolder
}

TEST_P(ScanTest, OddNamesAreKeptByteForByte)
{
    const std::string sjisFolder = "\x83\x74\x83\x48\x83\x8b\x83\x5f";  // not UTF-8
    for (const std::string& name : Strings{"\x82\xa0.jpg", "new\nline.jpg", " lead and trail .jpg", "tab\t.jpg",
                                           sjisFolder + "/a b.jpg", sjisFolder + "/\xff\xfe.jpg"})
        tmp.MakeFile("T/" + name);
    Scan(tmp / "T", kJpeg);
    EXPECT_EQ(Names(table), (Strings{" lead and trail .jpg", "new\nline.jpg", "tab\t.jpg", "\x82\xa0.jpg", "a b.jpg",
                                     "\xff\xfe.jpg"}));
    EXPECT_EQ(RelativePaths(), (Strings{"T/ lead and trail .jpg", "T/new\nline.jpg", "T/tab\t.jpg", "T/\x82\xa0.jpg",
                                        "T/" + sjisFolder + "/a b.jpg", "T/" + sjisFolder + "/\xff\xfe.jpg"}));
}

TEST_P(ScanTest, FolderDeeperThanThePathLimitIsSearched)
{
    // Built with *at calls: the whole path is too long for one system call.
    const std::string part(200, 'd');
    std::string relative = "T";
    int fd = open(tmp.MakeFolder("T").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int depth = 0; depth < 25; ++depth) {
        ASSERT_EQ(mkdirat(fd, part.c_str(), 0755), 0);
        const int sub = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        ASSERT_GE(sub, 0);
        fd = sub;
        relative += "/" + part;
    }
    const int file = openat(fd, "deep.jpg", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(write(file, "xy", 2), 2);
    close(file);
    close(fd);
    ASSERT_GT(tmp.Path().size() + relative.size(), static_cast<std::size_t>(PATH_MAX));

    Scan(tmp / "T", kJpeg);
    EXPECT_EQ(RelativePaths(), Strings{relative + "/deep.jpg"});
    EXPECT_EQ(Sizes(table), Strings{"2byte"});
}

TEST_P(ScanTest, DateIsTheBirthTimeNotTheModificationTime)
{
    const std::string path = tmp.MakeFile("T/a.jpg", 1);
    const struct timespec times[2] = {{978274800, 0}, {978274800, 0}};  // 2001-01-01 00:00:00 here
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    struct statx sx { };
    ASSERT_EQ(statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx), 0);
    if ((sx.stx_mask & STATX_BTIME) == 0)
        GTEST_SKIP() << "this file system keeps no birth time";
    Scan(tmp / "T", kJpeg);
    ASSERT_EQ(table.RowCount(), 1);
    EXPECT_EQ(table.CreationTime(0), sx.stx_btime.tv_sec);
    EXPECT_NE(DateText(table.CreationTime(0)), "2001年01月01日 00:00:00");
}

TEST_P(ScanTest, FolderReachedTwiceIsListedOnce)
{
    tmp.MakeFile("T/A/a.jpg", 1);
    tmp.MakeFolder("T/B");
    tmp.MakeFolder("T/A/loop");
    const Mount twin(tmp / "T/A", tmp / "T/B", nullptr, MS_BIND);
    if (!twin.Ok())
        GTEST_SKIP() << "cannot bind-mount here (" << twin.Error() << "); needs root or CAP_SYS_ADMIN";
    const Mount loop(tmp / "T", tmp / "T/A/loop", nullptr, MS_BIND);
    ASSERT_TRUE(loop.Ok()) << loop.Error();
    Scan(tmp / "T", kJpeg);
    EXPECT_EQ(RelativePaths(), Strings{"T/A/a.jpg"});
}

// A folder moved, during the walk, from where its parent's listing found it
// into a folder not listed yet is found at its new place: which folder it
// is, is taken from the folder opened for its own listing, not from the
// name its old parent listed. One thread, so that the move comes before
// the old place is opened.
TEST_P(ScanTest, FolderMovedDuringTheWalkIsFoundAtItsNewPlace)
{
    tmp.MakeFile("T/a/x.jpg", 1);
    tmp.MakeFile("T/c/y.jpg", 2);
    testing::SetEnv("SNAPSIFT_SCAN_THREADS", "1");
    ScanHooks hooks;
    const std::string from = tmp / "T/c", to = tmp / "T/a/moved";
    hooks.beforeOpening = [&from, &to, done = std::make_shared<bool>(false)](const std::string& relative) {
        if (relative == "a" && !*done) {
            *done = true;
            ASSERT_EQ(rename(from.c_str(), to.c_str()), 0);
        }
    };
    SetScanHooks(hooks);
    Scan(tmp / "T", kJpeg);
    SetScanHooks({});
    unsetenv("SNAPSIFT_SCAN_THREADS");
    EXPECT_EQ(RelativePaths(), (Strings{"T/a/moved/y.jpg", "T/a/x.jpg"}));
}

// A worker that finds everything in the cache goes on into the folders
// below the one it was given. Folders left out by their name are still never
// opened there, however deep, and rows and progress steps stay those of a
// walk on one thread.
TEST_P(ScanTest, FoldersListedAheadKeepTheWalksOrderAndNeverEnterLeftOutOnes)
{
    for (const char* chain : {"a", "b", "c"}) {
        std::string folder = std::string("T/") + chain;
        for (int depth = 0; depth < 5; ++depth) {
            tmp.MakeFile(folder + "/p" + std::to_string(depth) + ".jpg", depth + 1);
            tmp.MakeFile(folder + "/.thumbnails/t.jpg", 1);
            tmp.MakeFile(folder + "/.sh_thumbnails/deep/t.jpg", 1);
            folder += "/" + std::to_string(depth);
        }
    }
    std::mutex mutex;
    Strings opened;
    ScanHooks hooks;
    hooks.beforeOpening = [&mutex, &opened](const std::string& relative) {
        const std::lock_guard lock(mutex);
        opened.push_back(relative);
    };
    SetScanHooks(hooks);
    Scan(tmp / "T", kJpeg);
    const Strings rows = RelativePaths();
    const std::vector<std::string> ops = progress.ops;
    testing::SetEnv("SNAPSIFT_SCAN_THREADS", "1");
    progress.ops.clear();
    Scan(tmp / "T", kJpeg);
    unsetenv("SNAPSIFT_SCAN_THREADS");
    SetScanHooks({});
    EXPECT_EQ(rows.size(), 15u);
    EXPECT_EQ(rows, RelativePaths());
    EXPECT_EQ(ops, progress.ops);
    EXPECT_EQ(opened.size(), 2u * 15u);  // every folder below T, once per search
    for (const std::string& relative : opened)
        EXPECT_EQ(relative.find("thumbnails"), std::string::npos) << relative;
}

TEST_P(ScanTest, MountedFileSystemsAreEnteredButKernelOnesAreNot)
{
    tmp.MakeFolder("T/proc");
    tmp.MakeFolder("T/ram");
    const Mount ram("tmpfs", tmp / "T/ram", "tmpfs", 0);
    const Mount proc("proc", tmp / "T/proc", "proc", 0);
    if (!ram.Ok() || !proc.Ok())
        GTEST_SKIP() << "cannot mount tmpfs and proc here (" << ram.Error() << proc.Error()
                     << "); needs root or CAP_SYS_ADMIN";
    tmp.MakeFile("T/ram/r.jpg", 1);
    tmp.MakeFile("T/ram/sub/s.jpg", 1);
    Scan(tmp / "T", Types(false, false, false, "*"));
    EXPECT_EQ(RelativePaths(), (Strings{"T/ram/sub/s.jpg", "T/ram/r.jpg"}));
    // proc, ram and ram/sub: nothing below proc was collected.
    EXPECT_EQ(progress.ops, Concat({{"range 0 2", "delta 2", "delta 3", "delta 3", "pos 0", "range 0 3"},
                                    Repeat("delta 1", 4),
                                    {"pos 0"}}));
}

INSTANTIATE_TEST_SUITE_P(Io, ScanTest, ::testing::Values("threads", "uring"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// --- How many folders are read at once ----------------------------------------

// One thread while items keep the processor; more may work once items wait
// (a sleep gives up the processor, as a read from a cold disk does). The
// results come in order either way.
TEST(OrderedWorkTest, ReadsInFlightGrowOnlyWhileItemsWait)
{
    constexpr int kItems = 40;
    for (const bool waiting : {false, true}) {
        SCOPED_TRACE(waiting ? "items that wait" : "items that keep the processor");
        OrderedWork<int, int> work(ReadsInFlight{1, 4}, 64, [waiting](int& item, bool) {
            if (waiting)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            volatile int sum = 0;
            for (int k = 0; k < 1000; ++k)
                sum = sum + k;
            return item * 10;
        });
        for (int item = 0; item < kItems; ++item)
            work.Add(item);
        for (int item = 0; item < kItems; ++item)
            EXPECT_EQ(work.Next(), std::optional<int>(item * 10));
        if (waiting)
            EXPECT_GE(work.MostAllowed(), 2u);
        else
            EXPECT_EQ(work.MostAllowed(), 1u);
    }
}

// Lets an item wait until released.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
};

// A stop answers at once, without the result of an item still in work; the
// abandoned pool ends on its own once that item is done.
TEST(OrderedWorkTest, StopDoesNotWaitForAnUnfinishedItem)
{
    auto held = std::make_shared<Gate>();
    std::stop_source stop;
    {
        OrderedWork<int, int> work(ReadsInFlight{2, 2}, 8, [held](int& item, bool) {
            if (item == 0) {  // waits until let go below
                std::unique_lock lock(held->mutex);
                held->changed.wait(lock, [&] { return held->open; });
            }
            return item;
        });
        work.Add(0);
        work.Add(1);
        stop.request_stop();
        EXPECT_EQ(work.Next(stop.get_token()), std::nullopt);
        work.Abandon();
    }
    const std::lock_guard lock(held->mutex);
    held->open = true;  // lets item 0 end
    held->changed.notify_all();
}

// A slow disk from the start gets its deep queue at once: the first item
// that waits lets every thread work, not one more.
TEST(OrderedWorkTest, FirstItemThatWaitsOpensTheWholeQueue)
{
    constexpr int kItems = 24;
    OrderedWork<int, int> work(ReadsInFlight{1, 8}, 64, [](int& item, bool) {
        if (item == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return item + 1;
    });
    for (int item = 0; item < kItems; ++item)
        work.Add(item);
    for (int item = 0; item < kItems; ++item)
        EXPECT_EQ(work.Next(), std::optional<int>(item + 1));
    EXPECT_EQ(work.MostAllowed(), 8u);
}

// An item is told whether items waited on the disk lately: not before any
// did, yes right after one did (so that a walk may set up its deep queue),
// and no again once enough items in a row did not wait. Items added in
// batches come back in order, with a pool fixed at one thread too.
TEST(OrderedWorkTest, ItemsAreToldWhetherItemsWaitedLately)
{
    using Work = OrderedWork<int, int>;
    constexpr int kQuickAfter = static_cast<int>(Work::kWaitingItems) + 20;
    for (const unsigned threads : {1u, 4u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        // Item 0 waits; the others keep the processor.
        Work work(ReadsInFlight{threads, threads}, 4, [](int& item, bool waiting) {
            if (item == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return waiting ? -item : item;
        });
        std::vector<int> batch;
        for (int item = 0; item < 1 + kQuickAfter + 50; ++item)
            batch.push_back(item);
        work.Add(batch);
        EXPECT_TRUE(batch.empty());
        EXPECT_EQ(work.Next(), std::optional<int>(0));  // nothing had waited before it
        std::vector<int> told;
        for (int item = 1; item < 1 + kQuickAfter + 50; ++item) {
            const std::optional<int> result = work.Next();
            ASSERT_TRUE(result.has_value());
            ASSERT_EQ(std::abs(*result), item);
            told.push_back(*result);
        }
        // With a window of 4, the items right after the wait start after it.
        EXPECT_LT(told[3], 0) << "item 4 was not told of the wait before it";
        EXPECT_GT(told.back(), 0) << "the last items were still told to wait";
    }
}

// The watch of a thread's waits: an item that sleeps (as a read from a cold
// disk does) waited; one that keeps the processor for as long did not, nor
// did a quick one.
TEST(OrderedWorkTest, WaitWatchTellsASleepFromWork)
{
    WaitWatch watch;
    watch.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    EXPECT_TRUE(watch.Waited());
    watch.Start();
    volatile int sum = 0;
    for (int k = 0; k < 1000; ++k)
        sum = sum + k;
    EXPECT_FALSE(watch.Waited());
    watch.Start();
    const auto busyUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(3);
    while (std::chrono::steady_clock::now() < busyUntil)
        sum = sum + 1;
    EXPECT_FALSE(watch.Waited());
}

// Time a thread spent ready but without a processor (the machine busy with
// other work) is not a wait on the disk, even when the thread gave up the
// processor once during the item, as a lock briefly held elsewhere makes it.
TEST(OrderedWorkTest, TimeWaitingForAProcessorIsNoWaitOnTheDisk)
{
    using std::chrono::microseconds;
    const auto use = [](int processor, int queued, bool known, long waits) {
        return ThreadUse{microseconds(processor), microseconds(queued), known, waits};
    };
    struct Case {
        int wall;
        ThreadUse after;
        bool waited;
    };
    const ThreadUse start = use(0, 0, true, 0);
    for (const Case& c : {Case{4000, use(300, 3500, true, 1), false},  // set aside, one brief lock wait
                          Case{4000, use(300, 200, true, 1), true},    // asleep 3.5 ms
                          Case{4000, use(300, 0, true, 0), false},     // never gave the processor up
                          Case{1000, use(300, 0, true, 1), true},      // asleep 0.7 ms against 0.3 running
                          Case{700, use(300, 0, true, 1), false}}) {   // asleep 0.4 ms: too short
        EXPECT_EQ(WaitedOnDisk(microseconds(c.wall), start, c.after), c.waited)
            << c.wall << " " << c.after.queued.count();
    }
    // Where the kernel does not tell the time queued, a voluntary switch and
    // the time off the processor decide.
    EXPECT_TRUE(WaitedOnDisk(microseconds(4000), use(0, 0, false, 0), use(300, 0, false, 1)));
    EXPECT_FALSE(WaitedOnDisk(microseconds(4000), use(0, 0, false, 0), use(300, 0, false, 0)));
}

// --- Requests through io_uring ------------------------------------------------

// What one request gave: its result, and the kind and inode it saw.
struct Answer {
    int result = 0;
    mode_t type = 0;
    ino_t inode = 0;
    friend bool operator==(const Answer&, const Answer&) = default;
};

// Through the ring and one by one, the same answers: links are never
// followed, neither by a stat nor by an open, names that are gone say so,
// and more requests than the ring holds are all answered.
TEST(UringQueueTest, RingAnswersAsTheSystemCallsDo)
{
    testing::TempDir tmp;
    tmp.MakeFile("f.jpg", 3);
    tmp.MakeFolder("dir");
    ASSERT_EQ(symlink((tmp / "dir").c_str(), (tmp / "dirlink").c_str()), 0);
    ASSERT_EQ(symlink((tmp / "f.jpg").c_str(), (tmp / "filelink.jpg").c_str()), 0);
    const FolderHandle folder = OpenFolder(tmp.Path());
    ASSERT_TRUE(folder.IsOpen());
    std::vector<std::string> names;
    for (int round = 0; round < 60; ++round) {  // 300 stats and 300 opens for a ring of 8
        for (const char* name : {"f.jpg", "dir", "dirlink", "filelink.jpg", "gone"})
            names.push_back(name);
    }
    const auto ask = [&](bool ring) {
        UringQueue queue(8);
        if (ring && !queue.Ready())
            return std::vector<Answer>();
        std::vector<struct statx> facts(names.size());
        std::vector<int> stats(names.size()), opens(names.size());
        for (std::size_t k = 0; k < names.size(); ++k) {
            queue.Stat(folder.Fd(), names[k].c_str(), &facts[k], &stats[k]);
            queue.OpenFolder(folder.Fd(), names[k].c_str(), &opens[k]);
        }
        ring ? queue.Run() : queue.RunDirectly();
        std::vector<Answer> answers;
        for (std::size_t k = 0; k < names.size(); ++k) {
            answers.push_back({stats[k], stats[k] == 0 ? mode_t(facts[k].stx_mode & S_IFMT) : 0,
                               stats[k] == 0 ? ino_t(facts[k].stx_ino) : 0});
            struct stat st { };
            const bool open = opens[k] >= 0 && fstat(opens[k], &st) == 0;
            answers.push_back({opens[k] >= 0 ? 0 : opens[k], open ? st.st_mode & S_IFMT : 0, open ? st.st_ino : 0});
            if (opens[k] >= 0)
                close(opens[k]);
        }
        return answers;
    };
    const std::vector<Answer> direct = ask(false);
    ASSERT_EQ(direct.size(), 2 * names.size());
    const struct stat dirStat = [&] {
        struct stat st { };
        stat((tmp / "dir").c_str(), &st);
        return st;
    }();
    EXPECT_EQ(direct[0].type, S_IFREG);                          // f.jpg
    EXPECT_EQ(direct[1].result, -ENOTDIR);                       // opening f.jpg
    EXPECT_EQ(direct[3], (Answer{0, S_IFDIR, dirStat.st_ino}));  // opening dir
    EXPECT_EQ(direct[4].type, S_IFLNK);                          // dirlink, not followed
    EXPECT_LT(direct[5].result, 0);                              // opening dirlink is refused
    EXPECT_EQ(direct[6].type, S_IFLNK);                          // filelink.jpg
    EXPECT_EQ(direct[8].result, -ENOENT);                        // gone
    if (!UringQueue::Available())
        GTEST_SKIP() << "the kernel gives this process no io_uring (an older kernel or a sandbox); "
                        "the walk asks one call at a time here";
    EXPECT_EQ(ask(true), direct);
}

}  // namespace
}  // namespace snapsift
