// SPDX-License-Identifier: MIT
// The real program searching, restoring and listing without a window.

#include "app/command_line.h"
#include "app/report_mode.h"
#include "delete/deletion_log.h"
#include "platform/local_time.h"
#include "platform/user_desktop.h"
#include "scan/file_table.h"
#include "scan/picture_types.h"
#include "support/gio_trash.h"
#include "support/temp_tree.h"
#include "ui/fact_texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace snapsift {
namespace {

using Strings = std::vector<std::string>;

TEST(ReportFieldTest, ControlBytesAndPercentAreEscapedAsTheLogDoes)
{
    const std::pair<std::string, std::string> fields[] = {
        {"plain.jpg", "plain.jpg"},
        {"tab\there.jpg", "tab%09here.jpg"},
        {"cr\rlf\n.jpg", "cr%0Dlf%0A.jpg"},
        {"100%.jpg", "100%25.jpg"},
        {"lit%0Aeral.jpg", "lit%250Aeral.jpg"},
        {std::string("\x82\xa0\x01\x7f", 4), std::string("\x82\xa0\x01\x7f", 4)},
        {"", ""},
    };
    for (const auto& [bytes, written] : fields)
        EXPECT_EQ(ReportField(bytes), written) << bytes;
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class ReportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        testing::SetEnv("TZ", "Asia/Tokyo");
        tzset();
    }

    enum class Stdout {
        File,
        DevFull,
        Closed
    };

    // Words put before the program on its command line (for example a
    // launcher that drops privileges).
    Strings launcher;

    // Runs the program with `args`, its output captured in files (or its
    // standard output on a full disk, or closed).
    Outcome Snapsift(const Strings& args, Stdout where = Stdout::File, const std::string& cwd = "")
    {
        const std::string outPath = io / "out";
        const std::string errPath = io / "err";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (where == Stdout::File)
            posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        else if (where == Stdout::DevFull)
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
        else
            posix_spawn_file_actions_addclose(&actions, 1);
        if (!cwd.empty())
            posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv;
        for (const std::string& word : launcher)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(const_cast<char*>(SNAPSIFT_BINARY));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        Outcome run;
        const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(spawned, 0) << argv[0];
        if (spawned != 0)
            return run;
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status));
        run.status = WEXITSTATUS(status);
        run.out = testing::ReadFile(outPath);
        run.err = testing::ReadFile(errPath);
        return run;
    }

    // The line the report gives for a file: name, size, date, path; with
    // `escaped`, the name and path as a report without --null writes them.
    static std::string Line(const std::string& path, bool escaped = false)
    {
        struct statx sx { };
        EXPECT_EQ(statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_SIZE | STATX_BTIME | STATX_MTIME, &sx), 0);
        const std::int64_t created = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
        auto field = [escaped](const std::string& bytes) {
            std::string out;
            for (const char c : bytes) {
                const char* code = c == '%' ? "%25" : c == '\t' ? "%09" : c == '\r' ? "%0D" : c == '\n' ? "%0A" : "";
                out += escaped && *code ? std::string(code) : std::string(1, c);
            }
            return out;
        };
        return field(path.substr(path.rfind('/') + 1)) + "\t" + SizeText(sx.stx_size) + "\t" + DateText(created) +
               "\t" + field(path) + "\n";
    }

    // Whether the file system keeps the creation time of both files, which
    // automatic selection compares.
    static bool BothHaveBirthTimes(const std::string& first, const std::string& second)
    {
        struct statx a {
        }, b{};
        EXPECT_EQ(statx(AT_FDCWD, first.c_str(), 0, STATX_BTIME, &a), 0);
        EXPECT_EQ(statx(AT_FDCWD, second.c_str(), 0, STATX_BTIME, &b), 0);
        return (a.stx_mask & b.stx_mask & STATX_BTIME) != 0;
    }

    testing::TempDir tmp;
    testing::TempDir io;
};

TEST_F(ReportTest, RowsAreTheTableInOrderAndNothingElse)
{
    const std::string sjis = "\x82\xa0.jpg";
    tmp.WriteFile("T/b.jpg", "bbb");
    tmp.WriteFile("T/A.JPG", "AAAAA");
    tmp.WriteFile("T/x.gif", "x");
    tmp.MakeFile("T/sub/c.jpg", 0);
    tmp.WriteFile("T/sub/" + sjis, "ss");
    tmp.WriteFile("T/\xff dir/d e.jpg", "d");

    // The target's own files, then its subfolders in the reverse of name order.
    const Strings jpegs = {tmp / "T/A.JPG", tmp / "T/b.jpg", tmp / "T/\xff dir/d e.jpg", tmp / "T/sub/c.jpg",
                           tmp / ("T/sub/" + sjis)};
    std::string expected;
    for (const std::string& path : jpegs)
        expected += Line(path);

    Outcome run = Snapsift({"--report", tmp / "T"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, expected);

    run = Snapsift({"--report", "--gif", "--jpeg", tmp / "T"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, expected + Line(tmp / "T/x.gif"));

    run = Snapsift({"--report", "--other", "G?F", tmp / "T/"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, Line(tmp / "T/x.gif"));

    // Stars alone match every file, also one without a dot.
    tmp.WriteFile("T/README", "r");
    run = Snapsift({"--report", "--other", "*", tmp / "T"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, Line(tmp / "T/A.JPG") + Line(tmp / "T/b.jpg") + Line(tmp / "T/README") + Line(tmp / "T/x.gif") +
                           Line(tmp / "T/\xff dir/d e.jpg") + Line(tmp / "T/sub/c.jpg") +
                           Line(tmp / ("T/sub/" + sjis)));

    // A FOLDER with "." and ".." gives the canonical paths.
    run = Snapsift({"--report", "./T/sub/../sub/."}, Stdout::File, tmp.Path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Line(tmp / "T/sub/c.jpg") + Line(tmp / ("T/sub/" + sjis)));

    tmp.MakeFolder("empty");
    run = Snapsift({"--report", tmp / "empty"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST_F(ReportTest, DuplicatesAreTheOfferedNamesInOrder)
{
    for (const char* path : {"T/c.jpg", "T/b.jpg", "T/s/b.jpg", "T/s/B.jpg", "T/a.jpg", "T/t/a.jpg", "T/t/s/a.jpg",
                             "T/s/\x82\xa0.jpg", "T/t/\x82\xa0.jpg", "T/s/A.JPG"})
        tmp.MakeFile(path, 1);
    const Outcome run = Snapsift({"--report", "--duplicates", tmp / "T"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "a.jpg\nb.jpg\n\x82\xa0.jpg\n");

    tmp.MakeFile("U/a.jpg");
    EXPECT_EQ(Snapsift({"--duplicates", tmp / "U"}).out, "");

    // Names that read like the window's combo entries are names like any other.
    for (const std::string folder : {"V/", "V/s/"}) {
        tmp.MakeFile(folder + kShowAllText);
        tmp.MakeFile(folder + kPromptText);
    }
    tmp.MakeFile(std::string("V/") + kNoDuplicatesText);
    const Outcome named = Snapsift({"--report", "--duplicates", "--other", "*", tmp / "V"});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.out, std::string(kShowAllText) + "\n" + kPromptText + "\n");
}

TEST_F(ReportTest, AutoSelectPrintsTheOlderCopiesOnly)
{
    // Unique names, and equal names of different sizes: nothing to pick.
    tmp.WriteFile("T/a.jpg", "1");
    tmp.WriteFile("T/s/a.jpg", "22");
    tmp.WriteFile("T/b.jpg", "1");
    tmp.WriteFile("T/s/c.jpg", "1");
    Outcome run = Snapsift({"--report", "--auto-select", tmp / "T"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");

    // One copy made a second later than the other: the older one is picked.
    const std::string older = tmp.WriteFile("T/d.jpg", "333");
    testing::WaitForNewerSecond(tmp / "T");
    const std::string newer = tmp.WriteFile("T/s/d.jpg", "333");
    if (!BothHaveBirthTimes(older, newer))
        GTEST_SKIP() << "this file system keeps no birth time";
    run = Snapsift({"--report", "--auto-select", tmp / "T"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, older + "\n");

    // Same name, size and order of dates, other bytes: picked only without
    // comparing contents. A protected folder, reached through a link, is
    // never picked from.
    const std::string olderScan = tmp.WriteFile("T/scan 01.bmp", "picture one");
    testing::WaitForNewerSecond(tmp / "T");
    tmp.WriteFile("T/s/scan 01.bmp", "picture two");
    run = Snapsift({"--report", "--bmp", "--auto-select", tmp / "T"});
    EXPECT_EQ(run.out, "");
    run = Snapsift({"--report", "--bmp", "--auto-select", "--by-name-and-size", tmp / "T"});
    EXPECT_EQ(run.out, olderScan + "\n");
    ASSERT_EQ(symlink((tmp / "T").c_str(), (tmp / "way").c_str()), 0);
    run = Snapsift({"--report", "--auto-select", "--by-name-and-size", "--protect", tmp / "way", tmp / "T"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    run = Snapsift({"--report", "--auto-select", "--protect", tmp / "missing", tmp / "T"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("missing"), std::string::npos);
}

// With --null every record ends with NUL, as find -print0 does, so a name
// holding a line end stays one record; nothing else in the record changes.
TEST_F(ReportTest, NullEndsEachRecordWithNul)
{
    const std::string older = tmp.WriteFile("T/two\nlines.jpg", "same");
    tmp.WriteFile("T/plain.jpg", "p");
    testing::WaitForNewerSecond(tmp / "T");
    const std::string newer = tmp.WriteFile("T/s/two\nlines.jpg", "same");
    auto nul = [](std::string line) {
        line.back() = '\0';
        return line;
    };

    Outcome run = Snapsift({"--report", "--null", tmp / "T"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, nul(Line(tmp / "T/plain.jpg")) + nul(Line(older)) + nul(Line(newer)));

    run = Snapsift({"--duplicates", "--null", tmp / "T"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string("two\nlines.jpg\0", 14));

    if (!BothHaveBirthTimes(older, newer))
        GTEST_SKIP() << "this file system keeps no birth time";
    run = Snapsift({"--auto-select", "--null", tmp / "T"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, older + std::string(1, '\0'));
}

// Repeated --other and --types: every type found, pass by pass, each once.
TEST_F(ReportTest, MoreTypesComeAfterTheFourInPassOrder)
{
    for (const char* name : {"T/a.heic", "T/b.png", "T/c.jpg", "T/d.CR2", "T/s/e.png", "T/s/f.heif", "T/g.txt"})
        tmp.MakeFile(name, 1);
    Outcome run = Snapsift({"--report", "--jpeg", "--other", "heic", "--other", "png", tmp / "T"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              Line(tmp / "T/c.jpg") + Line(tmp / "T/a.heic") + Line(tmp / "T/b.png") + Line(tmp / "T/s/e.png"));

    run = Snapsift({"--report", "--types", "raw,heic", "--other", "txt", "--types", "heic", tmp / "T"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              Line(tmp / "T/g.txt") + Line(tmp / "T/a.heic") + Line(tmp / "T/s/f.heif") + Line(tmp / "T/d.CR2"));

    run = Snapsift({"--report", "--types", "png,gif", tmp / "T"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("snapsift: unknown picture type 'gif'", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
}

// Without --null a record is one line and TABs separate its fields alone;
// with --null the fields are written whole.
TEST_F(ReportTest, FieldsHoldingTabsAndLineEndsAreEscapedWithoutNull)
{
    const std::string older = tmp.WriteFile("T/tab\t100%.jpg", "same");
    testing::WaitForNewerSecond(tmp / "T");
    const std::string newer = tmp.WriteFile("T/s\rx/tab\t100%.jpg", "same");
    const std::string escapedName = "tab%09100%25.jpg";
    Outcome run = Snapsift({"--report", tmp / "T"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, Line(older, true) + Line(newer, true));
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\t'), 6);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2);
    EXPECT_NE(run.out.find("/T/s%0Dx/" + escapedName + "\n"), std::string::npos) << run.out;

    run = Snapsift({"--report", "--null", tmp / "T"});
    const std::string line = Line(older), newerLine = Line(newer);
    EXPECT_EQ(run.out, line.substr(0, line.size() - 1) + '\0' + newerLine.substr(0, newerLine.size() - 1) + '\0');

    run = Snapsift({"--duplicates", tmp / "T"});
    EXPECT_EQ(run.out, escapedName + "\n");
    if (!BothHaveBirthTimes(older, newer))
        GTEST_SKIP() << "this file system keeps no birth time";
    run = Snapsift({"--auto-select", tmp / "T"});
    EXPECT_EQ(run.out, tmp / ("T/" + escapedName) + "\n");
}

TEST_F(ReportTest, RefusalsGiveOneLineOnStandardErrorAndStatusTwo)
{
    tmp.MakeFile("T/a.jpg", 1);
    tmp.MakeFile("file.jpg", 1);
    const std::vector<Strings> cases = {
        {"--report", tmp / "missing"},
        {"--report", tmp / "file.jpg"},
        {"--report", "--bogus", tmp / "T"},
        {"--report", "--other", "", tmp / "T"},
        {"--report", "--jpeg", "--other", "", tmp / "T"},
        {"--report", tmp / "T", tmp / "T"},
        {"--report"},
        {tmp / "T"},
    };
    for (const Strings& args : cases) {
        SCOPED_TRACE(args.size() > 1 ? args[1] + " " + args.back() : args[0]);
        const Outcome run = Snapsift(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("snapsift: ", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

TEST_F(ReportTest, OutputThatCannotBeWrittenGivesOneLineAndStatusTwo)
{
    tmp.MakeFile("T/a.jpg", 1);
    for (const Stdout where : {Stdout::DevFull, Stdout::Closed}) {
        SCOPED_TRACE(where == Stdout::DevFull ? "/dev/full" : "closed");
        const Outcome run = Snapsift({"--report", tmp / "T"}, where);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err.rfind("snapsift: cannot write the report: ", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

TEST_F(ReportTest, UnreadableFolderIsRefused)
{
    const std::string folder = tmp.MakeFolder("locked");
    tmp.MakeFile("locked/a.jpg");
    ASSERT_EQ(chmod(folder.c_str(), 0), 0);
    if (access(folder.c_str(), R_OK | X_OK) == 0) {
        // Root reads every folder: run the program without the capabilities
        // that let it, as an ordinary user would.
        if (access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "the folder stays readable (running as root) and there is no setpriv to drop that";
        launcher = {"/usr/bin/setpriv", "--bounding-set", "-all", "--inh-caps", "-all", "--"};
    }
    const Outcome run = Snapsift({"--report", folder});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
}

// --restore-last on a trash of its own: one line per path, a count, and the
// status saying whether everything came back; a log without a block is refused.
TEST_F(ReportTest, RestoreLastReportsEachPathAndACount)
{
    testing::SetEnv("HOME", tmp.MakeFolder("home"));
    testing::SetEnv("XDG_DATA_HOME", tmp.MakeFolder("home/data"));
    const std::string back = tmp.WriteFile("T/a/back.jpg", "back"), taken = tmp.WriteFile("T/taken.jpg", "old");
    ASSERT_TRUE(MoveToTrash(back).ok);
    ASSERT_TRUE(MoveToTrash(taken).ok);
    tmp.WriteFile("T/taken.jpg", "new");
    const std::string log = tmp / "DeleteLog.log";
    ASSERT_EQ(AppendDeletionLog(CurrentTime() - 5, {back, taken}, log), LogOutcome::Written);
    const std::string logged = testing::ReadFile(log);

    Outcome run = Snapsift({"--restore-last", "--log", log});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "restored: " + back + "\nnot restored: " + taken +
                           ": something else is at this path now\n1 of 2 files restored\n");
    EXPECT_EQ(testing::ReadFile(back), "back");
    EXPECT_EQ(testing::ReadFile(taken), "new");

    run = Snapsift({"--restore-last", "--log", log});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "not restored: " + back + ": not found in the trash");
    EXPECT_EQ(testing::ReadFile(log), logged);

    // The report cannot be written: the files come back all the same, and
    // the status and one line say that the report is lost.
    const std::string again = tmp.WriteFile("T/again.jpg", "again");
    ASSERT_TRUE(MoveToTrash(again).ok);
    ASSERT_EQ(AppendDeletionLog(CurrentTime() - 5, {again}, log), LogOutcome::Written);
    run = Snapsift({"--restore-last", "--log", log}, Stdout::DevFull);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("snapsift: cannot write the restore report: ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_EQ(testing::ReadFile(again), "again");

    for (const std::string& bad : {tmp / "missing.log", tmp.WriteFile("empty.log", "no block here\r\n")}) {
        run = Snapsift({"--restore-last", "--log", bad});
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

TEST_F(ReportTest, HelpAndVersion)
{
    Outcome run = Snapsift({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, UsageText());

    for (const char* option : {"--null", "--version", "--types", "--other"})
        EXPECT_NE(run.out.find(std::string("\n  ") + option + " "), std::string::npos) << option;

    run = Snapsift({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "snapsift 1.0.0.1\n");
}

}  // namespace
}  // namespace snapsift
