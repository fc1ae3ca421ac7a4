// SPDX-License-Identifier: MIT
// The content check on many copies of one name and size: copies that differ
// only in the middle, what the check costs in bytes read, a process short of
// files, and copies that truly cannot be read.

#include "review/content_check.h"
#include "review/result_view.h"
#include "support/table_rows.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace snapsift {
namespace {

constexpr std::uint64_t kEnd = 64 * 1024;
constexpr std::int64_t kT0 = 1000000000;

// Where copies of one case differ: just past the first 64 KiB, halfway, or
// just before the last 64 KiB. Their ends are always the same.
enum class At {
    HeadSide,
    Centre,
    TailSide
};

std::uint64_t Offset(At at, std::uint64_t size)
{
    return at == At::HeadSide ? kEnd : at == At::Centre ? size / 2 : size - kEnd - 4;
}

// The bytes of content `id`: common bytes with the id written at `offset`.
// Two ids give two contents, one id always the same.
std::string CopyBytes(std::uint64_t size, std::uint32_t id, std::uint64_t offset)
{
    std::string bytes(size, '\0');
    std::uint32_t x = 777;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    std::memcpy(&bytes[offset], &id, sizeof id);
    return bytes;
}

// Copies of "scan.bmp" on disk, one folder each, and their table rows. The
// row of copy i carries the time times[i]; copy i is the hard link of an
// earlier copy where linkTo[i] names it.
struct Copies {
    testing::TempDir tmp;
    ResultView view;
    std::vector<std::string> paths;

    void Add(std::uint64_t size, std::uint32_t id, std::uint64_t offset, std::int64_t time, int linkTo = -1)
    {
        const std::string folder = "d" + std::to_string(paths.size());
        if (linkTo >= 0) {
            tmp.MakeFolder(folder);
            paths.push_back(tmp / (folder + "/scan.bmp"));
            EXPECT_EQ(link(paths[static_cast<std::size_t>(linkTo)].c_str(), paths.back().c_str()), 0);
        } else {
            paths.push_back(tmp.WriteFile(folder + "/scan.bmp", CopyBytes(size, id, offset)));
        }
        testing::AddFoundFile(view.table,
                              {"scan.bmp", tmp / folder, size, time, StatRegularFile(paths.back())->identity});
    }

    // The paths of the list rows automatic selection picked.
    std::set<std::string> Selected(const AutoSelectOutcome& outcome) const
    {
        std::set<std::string> out;
        for (const int j : outcome.picked)
            out.insert(view.table.Path(view.list.TableRow(j)));
        return out;
    }
};

struct MiddleCase {
    const char* label;
    std::vector<std::uint32_t> contents;  // per copy, oldest first: equal ids are equal bytes
    At at = At::Centre;
    std::vector<std::int64_t> times = {};  // per copy; empty: one second apart
    std::vector<int> linkTo = {};          // per copy: the earlier copy it is a hard link of, or -1
};

std::vector<std::uint32_t> Ids(int count, std::uint32_t (*id)(int))
{
    std::vector<std::uint32_t> out;
    for (int i = 0; i < count; ++i)
        out.push_back(id(i));
    return out;
}

class EqualEnds : public ::testing::TestWithParam<MiddleCase> { };

// A copy is picked exactly when a copy created later holds its bytes, and a
// check reads each copy about once (twice where it has an equal copy), never
// once per pair; a second check reads nothing.
TEST_P(EqualEnds, PickExactlyTheCopiesWithALaterEqualCopyAtAboutOneReadEach)
{
    const MiddleCase& c = GetParam();
    constexpr std::uint64_t kSize = 4 * kEnd + 3;
    Copies copies;
    const std::size_t n = c.contents.size();
    auto time = [&c](std::size_t i) { return c.times.empty() ? kT0 + static_cast<std::int64_t>(i) : c.times[i]; };
    for (std::size_t i = 0; i < n; ++i)
        copies.Add(kSize, c.contents[i], Offset(c.at, kSize), time(i), c.linkTo.empty() ? -1 : c.linkTo[i]);
    copies.view.FillResultView();

    std::set<std::string> expected;
    int older = 0;  // copies that names, sizes and times alone would pick
    for (std::size_t i = 0; i < n; ++i) {
        bool laterCopy = false, laterEqual = false;
        for (std::size_t j = 0; j < n; ++j) {
            laterCopy = laterCopy || time(j) > time(i);
            laterEqual = laterEqual || (time(j) > time(i) && c.contents[j] == c.contents[i]);
        }
        older += laterCopy;
        if (laterEqual)
            expected.insert(copies.paths[i]);
    }
    ContentChecker checker;
    testing::RecordingProgress progress;
    const AutoSelectOutcome outcome = PickOlderCopies(copies.view, progress, {&checker, nullptr});
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(copies.Selected(outcome), expected);
    EXPECT_EQ(outcome.differing, older - static_cast<int>(expected.size()));
    EXPECT_EQ(outcome.unreadable, 0);
    EXPECT_LE(checker.BytesRead(), 3 * kSize * n);
    // The bar, when a copy was to be compared: the KiB of the copies, never
    // back, full at the check's end.
    if (older > 0) {
        const std::string range = "range 0 " + std::to_string((n * kSize + 1023) / 1024);
        ASSERT_FALSE(progress.ops.empty());
        EXPECT_EQ(progress.ops.front(), range);
        long last = 0;
        std::size_t op = 1;
        for (; op < progress.ops.size() && progress.ops[op].rfind("pos ", 0) == 0; ++op) {
            const long pos = std::stol(progress.ops[op].substr(4));
            EXPECT_GE(pos, last) << op;
            last = pos;
        }
        EXPECT_EQ(static_cast<std::uint64_t>(last), n * kSize / 1024);  // every whole KiB
    }

    const std::uint64_t read = checker.BytesRead();
    const AutoSelectOutcome again = PickOlderCopies(copies.view, progress, {&checker, nullptr});
    EXPECT_EQ(again.differing, outcome.differing);
    EXPECT_EQ(copies.Selected(again), expected);
    EXPECT_EQ(checker.BytesRead(), read);
}

INSTANTIATE_TEST_SUITE_P(
    Copies, EqualEnds,
    ::testing::Values(
        MiddleCase{"forty_all_different", Ids(40, [](int i) { return std::uint32_t(i); })},
        MiddleCase{"forty_all_equal", Ids(40, [](int) { return 7u; })},
        MiddleCase{"forty_in_pairs", Ids(40, [](int i) { return std::uint32_t(i / 2); }), At::HeadSide},
        MiddleCase{"three_contents_interleaved", Ids(12, [](int i) { return std::uint32_t(i % 3); }), At::TailSide},
        MiddleCase{"the_newest_differs", {5, 5, 5, 6}},
        MiddleCase{"equal_times_pick_nothing", {1, 1, 1}, At::Centre, {kT0, kT0, kT0}},
        MiddleCase{"older_equal_times_both_picked", {1, 1, 1, 2}, At::Centre, {kT0, kT0, kT0 + 1, kT0 + 2}},
        MiddleCase{"one_file_reached_twice", {3, 3, 4, 5}, At::HeadSide, {}, {-1, 0, -1, -1}}),
    [](const auto& info) { return std::string(info.param.label); });

// Esc while the copies' digests are read: nothing changes, the hand-made
// selection stays, and the bar was set to the bytes to read.
TEST(ContentCheckTest, StopWhileReadingDigestsChangesNothing)
{
    constexpr std::uint64_t kSize = 4 * kEnd + 3;
    Copies copies;
    for (int i = 0; i < 20; ++i)
        copies.Add(kSize, static_cast<std::uint32_t>(i / 2), Offset(At::Centre, kSize), kT0 + i);
    copies.view.FillResultView();
    ContentChecker checker;
    int reads = 0;
    checker.afterRead = [&](std::uint64_t) {
        if (++reads == 45)  // past the ends of all twenty copies
            checker.RequestStop();
    };
    testing::RecordingProgress progress;
    const AutoSelectOutcome outcome = PickOlderCopies(copies.view, progress, {&checker, nullptr});
    EXPECT_TRUE(outcome.stopped);
    EXPECT_TRUE(copies.Selected(outcome).empty());  // stopped: nothing picked, the selection stays
    ASSERT_FALSE(progress.ops.empty());
    EXPECT_EQ(progress.ops.front(), "range 0 " + std::to_string((20 * kSize + 1023) / 1024));
}

// A check stopped at its first read leaves the groups it has not taken: the
// caller's table may go at once, and a later check of the same copies, group
// after group in one flat list, picks the older copy of every pair.
TEST(ContentCheckTest, StoppedCheckLetsTheTableGoAndTheNextPicksEveryPair)
{
    constexpr int kPairs = 12;
    const auto build = [](Copies& copies) {
        for (int i = 0; i < kPairs; ++i) {
            const std::uint64_t size = 2 * kEnd + static_cast<std::uint64_t>(i);  // a group per size
            copies.Add(size, static_cast<std::uint32_t>(i), Offset(At::Centre, size), kT0 + 2 * i);
            copies.Add(size, static_cast<std::uint32_t>(i), Offset(At::Centre, size), kT0 + 2 * i + 1);
        }
        copies.view.FillResultView();
    };
    ContentChecker checker;
    testing::RecordingProgress progress;
    {
        Copies stopped;
        build(stopped);
        checker.afterRead = [&checker](std::uint64_t) { checker.RequestStop(); };
        const AutoSelectOutcome outcome = PickOlderCopies(stopped.view, progress, {&checker, nullptr});
        EXPECT_TRUE(outcome.stopped);
        EXPECT_TRUE(outcome.picked.empty());
        stopped.view.table = FileTable();  // gone while a worker may still read
    }
    checker.afterRead = nullptr;
    checker.ResetStop();
    Copies copies;
    build(copies);
    const AutoSelectOutcome outcome = PickOlderCopies(copies.view, progress, {&checker, nullptr});
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(outcome.differing, 0);
    std::set<std::string> older;
    for (int i = 0; i < kPairs; ++i)
        older.insert(copies.paths[static_cast<std::size_t>(2 * i)]);
    EXPECT_EQ(copies.Selected(outcome), older);
}

// A process that has run out of files while it checks (another part of the
// program holds them for a while): copies wait for room, and every copy is
// still read. Run in a child with a low RLIMIT_NOFILE whose files are all
// taken until a moment after the check starts; the result is the same
// however long that moment is.
TEST(ContentCheckTest, OutOfFilesMakesCopiesWaitNotCountAsUnreadable)
{
    constexpr std::uint64_t kSize = 2 * kEnd + 4096;
    constexpr int kCopies = 60;
    Copies copies;
    for (int i = 0; i < kCopies; ++i)
        copies.Add(kSize, static_cast<std::uint32_t>(i / 2), Offset(At::Centre, kSize), kT0 + i);
    copies.view.FillResultView();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Once with room, so that the sanitizers' first look at each type
        // (which needs a pipe) is not what runs out of files.
        {
            ContentChecker warm;
            testing::RecordingProgress progress;
            PickOlderCopies(copies.view, progress, {&warm, nullptr});
        }
        const struct rlimit limit {
            128, 128
        };
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            _exit(10);
        std::mutex mutex;
        std::vector<int> taken;
        std::thread giveBack([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const std::lock_guard lock(mutex);
            for (int fd : taken)
                close(fd);
        });
        {
            const std::lock_guard lock(mutex);
            for (int fd; (fd = dup(0)) >= 0;)
                taken.push_back(fd);
            if (errno != EMFILE)
                _exit(11);
        }
        ContentChecker checker;
        testing::RecordingProgress progress;
        const AutoSelectOutcome outcome = PickOlderCopies(copies.view, progress, {&checker, nullptr});
        giveBack.join();
        for (const auto& u : outcome.unread)
            std::fprintf(stderr, "unread %d: %s\n", u.row, std::strerror(u.error));
        _exit(outcome.unreadable != 0 ? 1 : copies.Selected(outcome).size() != kCopies / 2 ? 2 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: a copy counted as unreadable; 2: a wrong selection; 1x: set-up";
}

// A copy that opens but reads shorter than its size says (a kernel attribute
// file, 4096 bytes by its size): an input/output error, so the copy counts as
// unreadable, with that reason, not as a copy whose bytes differ. Alone with
// one newer copy, and among more (read by its ends first).
TEST(ContentCheckTest, CopyThatFailsToReadIsUnreadableNotDifferent)
{
    std::string found;
    for (const char* path : {"/sys/kernel/uevent_seqnum", "/sys/kernel/profiling", "/sys/power/state"}) {
        const auto facts = StatRegularFile(path);
        char bytes[4096];
        const int fd = facts && facts->size == sizeof bytes ? open(path, O_RDONLY | O_CLOEXEC) : -1;
        const ssize_t got = fd >= 0 ? pread(fd, bytes, sizeof bytes, 0) : -1;
        if (fd >= 0)
            close(fd);
        if (got >= 0 && got < static_cast<ssize_t>(sizeof bytes)) {
            found = path;
            break;
        }
    }
    if (found.empty())
        GTEST_SKIP() << "no kernel attribute file here reads shorter than its size";
    const std::string folder = found.substr(0, found.rfind('/')), name = found.substr(found.rfind('/') + 1);
    for (int copies : {2, 3}) {
        SCOPED_TRACE(copies);
        testing::TempDir tmp;
        ResultView view;
        testing::AddFoundFile(view.table, {name, folder, 4096, kT0, StatRegularFile(found)->identity});
        std::set<std::string> expected;
        for (int i = 1; i < copies; ++i) {
            const std::string path = tmp.WriteFile("d" + std::to_string(i) + "/" + name, std::string(4096, 'x'));
            testing::AddFoundFile(
                view.table, {name, tmp / ("d" + std::to_string(i)), 4096, kT0 + i, StatRegularFile(path)->identity});
            if (i + 1 < copies)
                expected.insert(path);
        }
        view.FillResultView();
        ContentChecker checker;
        testing::RecordingProgress progress;
        const AutoSelectOutcome outcome = PickOlderCopies(view, progress, {&checker, nullptr});
        EXPECT_EQ(outcome.unreadable, 1);
        EXPECT_EQ(outcome.differing, 0);
        ASSERT_EQ(outcome.unread.size(), 1u);
        EXPECT_EQ(outcome.unread[0].row, 0);
        EXPECT_EQ(outcome.unread[0].error, EIO);
        std::set<std::string> selected;
        for (const int j : outcome.picked)
            selected.insert(view.table.Path(view.list.TableRow(j)));
        EXPECT_EQ(selected, expected);
    }
}

// ---- The real program in report mode ----------------------------------------

struct Ran {
    int status = -1;
    std::string out, err;
};

// Runs the program with `args` in a child that may first lower its limit of
// open files and give up the right to read files whatever their mode.
Ran Snapsift(const std::vector<std::string>& args, const std::string& io, rlim_t files = 0, bool noOverride = false)
{
    std::vector<char*> argv = {const_cast<char*>(SNAPSIFT_BINARY)};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string outPath = io + "/out", errPath = io + "/err";
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(120);
        const struct rlimit limit {
            files, files
        };
        if (files > 0 && setrlimit(RLIMIT_NOFILE, &limit) != 0)
            _exit(121);
        if (noOverride && (prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0 ||
                           prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) != 0))
            _exit(122);
        execv(SNAPSIFT_BINARY, argv.data());
        _exit(123);
    }
    Ran run;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.out = testing::ReadFile(outPath);
    run.err = testing::ReadFile(errPath);
    return run;
}

bool HasBirthTime(const std::string& path)
{
    struct statx sx { };
    return statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME) != 0;
}

std::set<std::string> Lines(const std::string& text)
{
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.insert(line);
    return lines;
}

// 1,100 copies with equal ends under `ulimit -n 256` (an open file per
// distinct copy ran out at about 1,000 before): the same picks as without
// the limit, and no copy left unread.
TEST(ContentReportTest, LowFileLimitLeavesNoCopyUnread)
{
    constexpr std::uint64_t kSize = 2 * kEnd + 4096;
    constexpr int kHalf = 550;
    testing::TempDir tmp, io;
    std::set<std::string> expected;
    for (int half = 0; half < 2; ++half) {
        for (int i = 0; i < kHalf; ++i) {
            // The newer half holds the bytes of every other older copy.
            const auto id = static_cast<std::uint32_t>(half == 0 || i % 2 == 0 ? i : 100000 + i);
            const std::string path = tmp.WriteFile("T/" + std::to_string(half) + "/" + std::to_string(i) + "/scan.bmp",
                                                   CopyBytes(kSize, id, Offset(At::Centre, kSize)));
            if (half == 0 && i % 2 == 0)
                expected.insert(path);
        }
        if (half == 0)
            testing::WaitForNewerSecond(tmp / "T");
    }
    if (!HasBirthTime(tmp / "T/0/0/scan.bmp"))
        GTEST_SKIP() << "this file system keeps no birth time";
    const Ran free = Snapsift({"--report", "--bmp", "--auto-select", tmp / "T"}, io.Path());
    EXPECT_EQ(free.status, 0);
    EXPECT_EQ(free.err, "");
    EXPECT_EQ(Lines(free.out), expected);
    const Ran limited = Snapsift({"--report", "--bmp", "--auto-select", tmp / "T"}, io.Path(), 256);
    EXPECT_EQ(limited.status, 0);
    EXPECT_EQ(limited.err, "");
    EXPECT_EQ(limited.out, free.out);
}

// A copy the program may not read stays unpicked and is named on standard
// error with the reason; the report is still complete (status 0).
TEST(ContentReportTest, CopyThatCannotBeReadIsNamed)
{
    testing::TempDir tmp, io;
    const std::string bytes = CopyBytes(3 * kEnd, 1, Offset(At::Centre, 3 * kEnd));
    const std::string oldest = tmp.WriteFile("T/a/scan.bmp", bytes);
    testing::WaitForNewerSecond(tmp / "T");
    const std::string middle = tmp.WriteFile("T/b/scan.bmp", bytes);
    testing::WaitForNewerSecond(tmp / "T");
    tmp.WriteFile("T/c/scan.bmp", bytes);
    if (!HasBirthTime(oldest))
        GTEST_SKIP() << "this file system keeps no birth time";
    ASSERT_EQ(chmod(oldest.c_str(), 0), 0);
    const std::vector<std::string> args = {"--report", "--bmp", "--auto-select", tmp / "T"};
    const Ran allowed = Snapsift(args, io.Path());
    if (geteuid() != 0 || Lines(allowed.out) != std::set<std::string>{oldest, middle})
        GTEST_SKIP() << "needs root, who reads files whatever their mode, to take that right away; got " << allowed.out;
    const Ran refused = Snapsift(args, io.Path(), 0, true);
    if (refused.status == 122)
        GTEST_SKIP() << "the right to read any file cannot be given up here (PR_CAPBSET_DROP)";
    EXPECT_EQ(refused.status, 0);
    EXPECT_EQ(refused.out, middle + "\n");
    EXPECT_EQ(refused.err, "snapsift: left unpicked, cannot compare " + oldest + ": " + std::strerror(EACCES) + "\n");
}

}  // namespace
}  // namespace snapsift
