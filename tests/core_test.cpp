// SPDX-License-Identifier: MIT
// The file table, the texts made of its facts, the name order and the name patterns.

#include "platform/name_order.h"
#include "scan/file_table.h"
#include "scan/name_pattern.h"
#include "support/table_rows.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <tuple>
#include <vector>

namespace snapsift {
namespace {

using Row = std::tuple<std::string, std::string, std::uint64_t, std::int64_t, std::uint64_t>;

Row RowOf(const FileTable& table, int k)
{
    return {std::string(table.Name(k)), table.Path(k), table.Size(k), table.CreationTime(k), table.Identity(k).inode};
}

// Rows 0..count-1, each with its own name, size, time and path.
FileTable TableOf(int count)
{
    FileTable table;
    for (int k = 0; k < count; ++k) {
        const std::string number = std::to_string(k);
        testing::AddFoundFile(table, {std::string("n").append(number), std::string("/p/").append(number), 10u + k,
                                      1000000000 + k, FileIdentity{1, 100u + k}});
    }
    return table;
}

class CoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        testing::SetEnv("TZ", "Asia/Tokyo");
        tzset();
    }
};

TEST_F(CoreTest, AddFoundFileKeepsFactsAndTheirTextsAreMadeOnRequest)
{
    FileTable table;
    testing::AddFoundFile(table, {"a.jpg", "/t", 1234, 932014989, FileIdentity{3, 7}});
    testing::AddFoundFile(table, {"\x82\xa0.jpg", "/t/s", 0, 0});
    testing::AddFoundFile(table, {"b.jpg", "/t/s", 5000000000, -1});
    testing::AddFoundFile(table, {"r.jpg", "/", 1, 0});
    ASSERT_EQ(table.RowCount(), 4);
    EXPECT_EQ(RowOf(table, 0), Row("a.jpg", "/t/a.jpg", 1234, 932014989, 7));
    EXPECT_EQ(table.Folder(0), "/t");
    EXPECT_EQ(SizeText(table.Size(0)) + " " + DateText(table.CreationTime(0)), "1234byte 1999年07月15日 14:03:09");
    EXPECT_EQ(RowOf(table, 1), Row("\x82\xa0.jpg", "/t/s/\x82\xa0.jpg", 0, 0, 0));
    EXPECT_EQ(DateText(table.CreationTime(1)), "1970年01月01日 09:00:00");
    EXPECT_EQ(table.Path(2), "/t/s/b.jpg");
    EXPECT_EQ(table.Folder(1), table.Folder(2));
    EXPECT_EQ(table.Path(3), "/r.jpg");
}

TEST_F(CoreTest, RemoveFileRowsKeepsTheOrderOfTheRest)
{
    struct Case {
        std::vector<bool> remove;
        std::vector<int> kept;
    };
    const std::vector<Case> cases = {
        {{false, false, false, false, false}, {0, 1, 2, 3, 4}},
        {{true, false, true, false, true}, {1, 3}},
        {{false, true, true, true, false}, {0, 4}},
        {{true, true, true, true, true}, {}},
    };
    for (const Case& c : cases) {
        const FileTable original = TableOf(5);
        FileTable table = original;
        table.RemoveFileRows(c.remove);
        ASSERT_EQ(table.RowCount(), static_cast<int>(c.kept.size()));
        for (std::size_t i = 0; i < c.kept.size(); ++i)
            EXPECT_EQ(RowOf(table, static_cast<int>(i)), RowOf(original, c.kept[i])) << "kept row " << i;
    }
}

TEST_F(CoreTest, ClearFileTableEmptiesEveryColumn)
{
    FileTable empty;
    empty.ClearFileTable();
    EXPECT_EQ(empty.RowCount(), 0);

    FileTable table = TableOf(4);
    table.ClearFileTable();
    EXPECT_EQ(table.RowCount(), 0);
    testing::AddFoundFile(table, {"b.jpg", "/p/0", 1, 0});
    EXPECT_EQ(table.RowCount(), 1);
    EXPECT_EQ(table.Path(0), "/p/0/b.jpg");
}

// Rows placed in any order, some with empty names, then cut back to the
// first ones: the same table as rows appended one after another, and still
// one whose rows can be removed.
TEST_F(CoreTest, RowsPlacedOutOfOrderMatchRowsAppended)
{
    const FileTable appended = TableOf(6);
    FileTable placed;
    std::vector<std::size_t> nameOffsets;
    std::size_t nameBytes = 0;
    for (int k = 0; k < appended.RowCount(); ++k) {
        placed.AddFolder(appended.Folder(k));
        nameOffsets.push_back(nameBytes);
        nameBytes += appended.Name(k).size();
    }
    placed.SizeRows(nameOffsets.size(), nameBytes);
    for (const int k : {5, 0, 3, 1, 4, 2}) {
        placed.PlaceRow(static_cast<std::size_t>(k), static_cast<std::uint32_t>(k),
                        nameOffsets[static_cast<std::size_t>(k)], appended.Name(k),
                        FileFacts{appended.Size(k), appended.CreationTime(k), appended.Identity(k)});
    }
    ASSERT_EQ(placed.RowCount(), appended.RowCount());
    for (int k = 0; k < appended.RowCount(); ++k) {
        EXPECT_EQ(RowOf(placed, k), RowOf(appended, k));
        EXPECT_EQ(placed.Identity(k), appended.Identity(k));
    }

    placed.KeepFirstRows(4, nameOffsets[4], 4);
    placed.RemoveFileRows({true, false, false, true});
    ASSERT_EQ(placed.RowCount(), 2);
    EXPECT_EQ(RowOf(placed, 0), RowOf(appended, 1));
    EXPECT_EQ(RowOf(placed, 1), RowOf(appended, 2));
    testing::AddFoundFile(placed, {"z.jpg", "/q", 1, 0});
    EXPECT_EQ(placed.Path(2), "/q/z.jpg");
    EXPECT_EQ(placed.Name(1), "n2");
}

// A row keeps the low 32 bits of its name's offset; a table of more than
// 4 GiB of names (millions of files) knows where each 4 GiB begins. A table
// that wraps every 16 bytes, filled, placed, cut and thinned as a search and
// a deletion do, holds the same rows as one that never wraps.
TEST_F(CoreTest, NameOffsetsBeyondWhat32BitsHoldStayRight)
{
    const auto name = [](int k) { return std::string(static_cast<std::size_t>(1 + (k * 7) % 40), 'a' + k % 26); };
    const auto facts = [](int k) { return FileFacts{10u + k, 1000 + k, FileIdentity{1, 100u + k}}; };
    const auto expectSame = [](const FileTable& wrapping, const FileTable& plain, const char* step) {
        ASSERT_EQ(wrapping.RowCount(), plain.RowCount()) << step;
        for (int k = 0; k < plain.RowCount(); ++k)
            EXPECT_EQ(RowOf(wrapping, k), RowOf(plain, k)) << step << " row " << k;
    };
    constexpr int kRows = 30;
    FileTable plain, wrapping(4), placed(4);
    std::vector<std::size_t> offsets;
    std::size_t nameBytes = 0;
    for (FileTable* table : {&plain, &wrapping, &placed})
        table->AddFolder("/f");
    for (int k = 0; k < kRows; ++k) {
        plain.AddFoundFile(0, name(k), facts(k));
        wrapping.AddFoundFile(0, name(k), facts(k));
        offsets.push_back(nameBytes);
        nameBytes += name(k).size();
    }
    expectSame(wrapping, plain, "appended");

    placed.SizeRows(kRows, nameBytes);
    for (int k = kRows - 1; k >= 0; k -= 2)
        placed.PlaceRow(static_cast<std::size_t>(k), 0, offsets[static_cast<std::size_t>(k)], name(k), facts(k));
    for (int k = 0; k < kRows; k += 2)
        placed.PlaceRow(static_cast<std::size_t>(k), 0, offsets[static_cast<std::size_t>(k)], name(k), facts(k));
    expectSame(placed, plain, "placed out of order");

    std::vector<bool> remove(kRows);
    for (int k = 0; k < kRows; ++k)
        remove[static_cast<std::size_t>(k)] = k % 3 != 1;
    for (FileTable* table : {&plain, &wrapping, &placed})
        table->RemoveFileRows(remove);
    expectSame(wrapping, plain, "thinned");
    expectSame(placed, plain, "placed and thinned");

    FileTable cut(4), cutPlain;
    for (FileTable* table : {&cut, &cutPlain}) {
        table->AddFolder("/f");
        table->SizeRows(kRows, nameBytes);
        for (int k = 0; k < kRows; ++k)
            table->PlaceRow(static_cast<std::size_t>(k), 0, offsets[static_cast<std::size_t>(k)], name(k), facts(k));
        table->KeepFirstRows(17, offsets[17], 1);
        table->AddFoundFile(0, "tail.jpg", facts(99));
    }
    expectSame(cut, cutPlain, "cut back and appended");
    EXPECT_EQ(cut.Name(17), "tail.jpg");
}

TEST_F(CoreTest, SizeTextIsTheWholeLengthInDecimal)
{
    const std::vector<std::pair<std::uint64_t, std::string>> cases = {
        {0, "0byte"},
        {1234, "1234byte"},
        {2147483647, "2147483647byte"},
        {2147483648, "2147483648byte"},
        {4294967295, "4294967295byte"},
        {4294967296, "4294967296byte"},
        {5000000000, "5000000000byte"},
    };
    for (const auto& [size, text] : cases)
        EXPECT_EQ(SizeText(size), text);
}

TEST_F(CoreTest, DateTextIsLocalTimeInFixedFields)
{
    // Increasing times; their texts increase byte by byte as well, so a list
    // of dates read as text is in time order.
    const std::vector<std::pair<std::int64_t, std::string>> cases = {
        {-2177485200, "1901年01月01日 00:00:00"}, {-310190033, "1960年03月04日 05:06:07"},
        {-1, "1970年01月01日 08:59:59"},          {0, "1970年01月01日 09:00:00"},
        {932014989, "1999年07月15日 14:03:09"},   {946652399, "1999年12月31日 23:59:59"},
        {946652400, "2000年01月01日 00:00:00"},   {2147483647, "2038年01月19日 12:14:07"},
        {2147483648, "2038年01月19日 12:14:08"},  {4133948398, "2100年12月31日 23:59:58"},
    };
    std::string previous;
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(DateText(seconds), text) << seconds;
        EXPECT_LT(previous, DateText(seconds)) << seconds;
        previous = DateText(seconds);
    }
}

TEST_F(CoreTest, NameOrderIgnoresAsciiCaseThenFallsBackToBytes)
{
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const std::vector<Case> cases = {
        {"a.jpg", "a.jpg", 0},
        {"a.jpg", "B.jpg", -1},
        {"A.jpg", "b.jpg", -1},
        {"A.jpg", "a.jpg", -1},  // equal but for case: bytes decide
        {"IMG.jpg", "img.JPG", -1},
        {"ab", "abc", -1},  // a beginning comes first
        {"AB", "abc", -1},
        {"z.jpg", "\x82\xa0.jpg", -1},         // bytes above 0x7f are unsigned
        {"\xc3\x84.jpg", "\xc3\xa4.jpg", -1},  // only ASCII letters fold
        {"a1", "a10", -1},
        {"a10", "a9", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareNames(c.a, c.b), c.sign) << c.a << " vs " << c.b;
        EXPECT_EQ(CompareNames(c.b, c.a), -c.sign) << c.b << " vs " << c.a;
    }

    std::vector<std::string> names = {"b.jpg", "\x82\xa0.jpg", "a.jpg", "B.jpg", "A.jpg", "a.jpg"};
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return CompareNames(a, b) < 0; });
    const std::vector<std::string> sorted = {"A.jpg", "a.jpg", "a.jpg", "B.jpg", "b.jpg", "\x82\xa0.jpg"};
    EXPECT_EQ(names, sorted);
}

TEST_F(CoreTest, NamePatternMatching)
{
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    };
    const std::vector<Case> cases = {
        {"a.jpg", "*.jpg", true},
        {"A.JPG", "*.jpg", true},
        {"b.Jpg", "*.jpg", true},
        {"a.jpg", "*.JPG", true},
        {".jpg", "*.jpg", true},
        {"a.b.jpg", "*.jpg", true},
        {"x.jpgx", "*.jpg", false},
        {"x.jpg.bak", "*.jpg", false},
        {"jpg", "*.jpg", false},
        {"a.jpeg", "*.jp?g", true},
        {"a.jpg", "*.jp?g", false},
        {"a.tar.gz", "*.t*z", true},
        {"a.tar.gzip", "*.t*z", false},
        {"ab.jpg", "?.jpg", false},
        {"\x82\xa0.jpg", "*.jpg", true},
        {"\x82\xa0.jpg", "??.jpg", true},  // ? is one byte
        {"\xc3\x84.jpg", "\xc3\xa4.jpg", false},
        {"a", "*", true},
        {"", "*", true},
        {"", "", true},
        {"a", "", false},
        {"abc", "***", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchesNamePattern(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}

// A matcher that backtracks over every star would not end on these within the
// test's time limit; the answers themselves are checked here, not the time.
TEST_F(CoreTest, NamePatternWithManyStarsGivesTheRightAnswers)
{
    std::string pattern;
    for (int i = 0; i < 40; ++i)
        pattern += "*a";
    const std::string a(20000, 'a');
    EXPECT_FALSE(MatchesNamePattern(a, pattern + "*b"));
    EXPECT_TRUE(MatchesNamePattern(a + "b", pattern + "*b"));
    EXPECT_FALSE(MatchesNamePattern(a, "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*ab"));
    EXPECT_TRUE(MatchesNamePattern(a, pattern + "*"));
}

}  // namespace
}  // namespace snapsift
