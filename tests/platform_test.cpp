// SPDX-License-Identifier: MIT
// The platform's vocabulary for files and folders: identities and states,
// the walk that opens a path without links, and the .trashinfo's text.
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/open_path.h"
#include "platform/trash_info.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift {
namespace {

using testing::SetEnv;
using testing::TempDir;

// What a walk without links opens, and where it stops.
TEST(OpenPathTest, OpensNoLinkAndSaysWhereItStopped)
{
    const TempDir tmp;
    tmp.MakeFolder("a/b/c");
    tmp.WriteFile("a/file", "x");
    ASSERT_EQ(symlink("b", (tmp / "a/link").c_str()), 0);
    ASSERT_EQ(symlink("/nowhere", (tmp / "a/dangling").c_str()), 0);
    struct stat c { };
    ASSERT_EQ(stat((tmp / "a/b/c").c_str(), &c), 0);
    const struct {
        const char* relative;
        bool makeMissing;
        PathStop::Kind stop;
        const char* stoppedAt;  // relative to tmp
    } cases[] = {
        {"a/b/c", false, PathStop::Kind::None, ""},
        {"a//b/c/", false, PathStop::Kind::None, ""},
        {"a/link/c", false, PathStop::Kind::Link, "a/link"},
        {"a/b/../link", false, PathStop::Kind::Link, "a/b/../link"},
        {"a/dangling", true, PathStop::Kind::Link, "a/dangling"},
        {"a/file/c", true, PathStop::Kind::NotFolder, "a/file"},
        {"a/missing/c", false, PathStop::Kind::Failed, "a/missing"},
        {"a/made/here", true, PathStop::Kind::None, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.relative);
        const std::string path = tmp / c.relative;
        for (const bool told : {false, true}) {
            PathStop stop;
            const FolderHandle folder =
                OpenPathWithoutLinks(path, {.makeMissing = c.makeMissing}, told ? &stop : nullptr);
            EXPECT_EQ(folder.IsOpen(), c.stop == PathStop::Kind::None);
            if (!told)
                continue;
            EXPECT_EQ(stop.kind, c.stop);
            if (c.stop != PathStop::Kind::None) {
                EXPECT_EQ(path.substr(0, stop.end), tmp / c.stoppedAt);
            }
        }
    }
    struct stat opened { };
    const FolderHandle again = OpenPathWithoutLinks(tmp / "a/b/c");
    ASSERT_TRUE(again.IsOpen());
    ASSERT_EQ(fstat(again.Fd(), &opened), 0);
    EXPECT_TRUE(SameFile(opened, c));
    EXPECT_TRUE(IsOwnFolder(tmp / "a/made/here"));
    EXPECT_FALSE(IsOwnFolder(tmp / "a/link"));
}

// Below a folder, a path never leaves it, and no link is followed. The
// part-by-part walk takes plain parts only; the kernel's one call also takes
// "." and ".." that stay inside, and opens where they lead.
TEST(OpenPathTest, BeneathAFolderNothingLeadsOut)
{
    const TempDir tmp;
    tmp.MakeFolder("top/a/b");
    ASSERT_EQ(symlink("a", (tmp / "top/link").c_str()), 0);
    const FolderHandle top = OpenPathWithoutLinks(tmp / "top");
    ASSERT_TRUE(top.IsOpen());
    const auto same = [](const FolderHandle& folder, const std::string& path) {
        struct stat a {
        }, b{};
        return fstat(folder.Fd(), &a) == 0 && stat(path.c_str(), &b) == 0 && SameFile(a, b);
    };
    const struct {
        const char* relative;
        const char* inside;  // where it leads, below top; null: out, or through a link
        bool plain;          // only plain parts
    } cases[] = {{"a/b", "a/b", true},   {"a", "a", true},           {"a/../a", "a", false},    {"./a", "a", false},
                 {"a//b", "a/b", false}, {"../top", nullptr, false}, {"link/b", nullptr, true}, {"/a", nullptr, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.relative);
        const FolderHandle once = OpenFolderBeneath(top, c.relative);
        if (c.inside == nullptr || c.plain) {
            EXPECT_EQ(once.IsOpen(), c.inside != nullptr);
        }
        if (once.IsOpen()) {
            EXPECT_TRUE(c.inside && same(once, tmp / "top/" + c.inside));
        }
        PathStop stop;  // told where: the walk part by part
        const FolderHandle parts = OpenPathWithoutLinks(c.relative, {.beneath = true}, &stop, &top);
        EXPECT_EQ(parts.IsOpen(), c.inside != nullptr && c.plain);
    }
}

// Paths longer than the kernel takes in one call are made and opened part by part.
TEST(OpenPathTest, PathsLongerThanTheKernelTakesAreWalked)
{
    const TempDir tmp;
    std::string deep = tmp.Path();
    while (deep.size() < 2 * PATH_MAX)
        deep += "/" + std::string(200, 'd');
    const FolderHandle made = OpenPathWithoutLinks(deep, {.makeMissing = true});
    ASSERT_TRUE(made.IsOpen());
    const FolderHandle opened = OpenPathWithoutLinks(deep);
    ASSERT_TRUE(opened.IsOpen());
    struct stat a {
    }, b{};
    ASSERT_EQ(fstat(made.Fd(), &a), 0);
    ASSERT_EQ(fstat(opened.Fd(), &b), 0);
    EXPECT_TRUE(SameFile(a, b));
    testing::RemoveTree(tmp.Path() + "/" + std::string(200, 'd'));
}

// An hour repeated when a zone moved its standard time back, with no
// daylight flag on either side, names both of its moments (found by the
// .trashinfo fuzzer: London left British Standard Time in October 1971).
TEST(LocalTimeTest, AnHourRepeatedWithoutDaylightFlagNamesBothMoments)
{
    SetEnv("TZ", "Europe/London");
    tzset();
    const auto readings = LocalTimeReadings(1971, 10, 31, 2, 38, 30);
    ASSERT_TRUE(readings.has_value());
    EXPECT_EQ(readings->earliest, 57721110);                        // 01:38:30 UTC, at +1
    EXPECT_EQ(readings->latest, 57724710);                          // 02:38:30 UTC
    const auto autumn = LocalTimeReadings(2024, 10, 27, 1, 30, 0);  // the usual repeated hour
    ASSERT_TRUE(autumn.has_value());
    EXPECT_EQ(autumn->latest - autumn->earliest, 3600);
    const auto once = LocalTimeReadings(2024, 5, 1, 12, 0, 0);
    ASSERT_TRUE(once.has_value());
    EXPECT_EQ(once->earliest, once->latest);
    SetEnv("TZ", "Asia/Tokyo");
    tzset();
}

// A file's times far beyond what one count of nanoseconds holds keep their
// seconds, and the count saturates instead of overflowing.
TEST(FileStateTest, TimesBeyondTheYear2262KeepTheirSecondsAndSaturate)
{
    const struct {
        std::int64_t seconds;
        std::int64_t nanoseconds;
        std::int64_t expected;
    } cases[] = {
        {0, 0, 0},
        {1700000000, 5, 1700000000000000005},
        {-1, 999999999, -1},
        {10413792000, 0, INT64_MAX / 1000000000 * 1000000000 - 1000000000},  // the year 2300
        {-10413792000, 0, -(INT64_MAX / 1000000000 * 1000000000 - 1000000000)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Nanoseconds(FileTime{c.seconds, c.nanoseconds}), c.expected) << c.seconds;

    const TempDir folder;
    const std::string path = folder.MakeFile("far.jpg", 3);
    const timespec times[2] = {{0, UTIME_OMIT}, {10413792000, 7}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::optional<FileState> state = StateOf(fd);
    struct stat st { };
    ASSERT_EQ(fstat(fd, &st), 0);
    close(fd);
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->modified, (FileTime{10413792000, 7}));
    EXPECT_EQ(state->size, 3u);
    EXPECT_EQ(state->identity, IdentityOf(st));  // statx and stat give one encoding
    const std::optional<FileState> named = StateAt(AT_FDCWD, path.c_str());
    ASSERT_TRUE(named.has_value());
    EXPECT_EQ(named->identity, state->identity);
    const auto facts = StatRegularFile(path);
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->identity, state->identity);
}

// What another program may have left as a .trashinfo is read, or refused,
// and never taken for more than it says.
TEST(TrashInfoTest, ReadsWhatItCanAndRefusesTheRest)
{
    SetEnv("TZ", "Asia/Tokyo");
    tzset();
    const struct {
        const char* name;
        const char* text;
        bool read;
        const char* path;
        bool dated;
    } cases[] = {
        {"written here", nullptr, true, "/p/a b%.jpg", true},
        {"zone named", "[Trash Info]\nPath=x.jpg\nDeletionDate=2024-05-01T10:20:30Z\n", true, "x.jpg", true},
        {"no date", "[Trash Info]\nPath=x.jpg\n", true, "x.jpg", false},
        {"date unreadable", "[Trash Info]\nPath=x.jpg\nDeletionDate=yesterday\n", true, "x.jpg", false},
        {"date cut short", "[Trash Info]\nPath=x.jpg\nDeletionDate=2024-05-01T10:20\n", true, "x.jpg", false},
        {"no path", "[Trash Info]\nDeletionDate=2024-05-01T10:20:30\n", false, "", false},
        {"empty path", "[Trash Info]\nPath=\n", false, "", false},
        {"path that cannot be unescaped", "[Trash Info]\nPath=%2\n", false, "", false},
        {"other group", "[Other]\nPath=x.jpg\n", false, "", false},
        {"no key file", "Path=x.jpg", false, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = c.text ? std::string(c.text) : TrashInfoText("/p/a b%.jpg", 1700000000);
        const std::optional<TrashInfo> info = ReadTrashInfo(text);
        ASSERT_EQ(info.has_value(), c.read);
        if (!info)
            continue;
        EXPECT_EQ(info->path, c.path);
        EXPECT_EQ(info->deleted.has_value(), c.dated);
        if (!c.text) {
            EXPECT_LE(info->deleted->earliest, 1700000000);
            EXPECT_GE(info->deleted->latest, 1700000000);
        }
    }
    EXPECT_EQ(DeletionDateText(1700000000), "2023-11-15T07:13:20");  // in Asia/Tokyo
}

}  // namespace
}  // namespace snapsift
