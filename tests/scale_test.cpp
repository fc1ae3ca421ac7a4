// SPDX-License-Identifier: MIT
// The shortcuts that keep big searches fast give the same answers as the
// plain rules: automatic selection, the list order, the date text and the
// type patterns.

#include "platform/name_order.h"
#include "platform/progress.h"
#include "review/result_view.h"
#include "scan/file_table.h"
#include "scan/name_pattern.h"
#include "support/table_rows.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace snapsift {
namespace {

// A small deterministic generator, so a failure can be replayed.
class Dice {
public:
    explicit Dice(std::uint64_t seed) : state_(seed) { }
    std::uint64_t Below(std::uint64_t n)
    {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return (state_ >> 33) % n;
    }

private:
    std::uint64_t state_;
};

// The rule as stated: a listed row is selected when the table holds a row of
// the same name and size with a later creation time.
// One flag per list row: picked.
std::vector<bool> Flags(const ResultView& view, const AutoSelectOutcome& outcome)
{
    std::vector<bool> flags(static_cast<std::size_t>(view.list.GetItemCount()));
    for (const int j : outcome.picked)
        flags[static_cast<std::size_t>(j)] = true;
    return flags;
}

std::vector<bool> PlainAutoSelection(const ResultView& view)
{
    const FileTable& t = view.table;
    std::vector<bool> selected;
    for (int j = 0; j < view.list.GetItemCount(); ++j) {
        const int row = view.list.TableRow(j);
        bool older = false;
        for (int k = 0; k < t.RowCount() && !older; ++k)
            older = t.Name(k) == t.Name(row) && t.Size(k) == t.Size(row) && t.CreationTime(row) < t.CreationTime(k);
        selected.push_back(older);
    }
    return selected;
}

TEST(ScaleTest, AutoSelectionAgreesWithThePlainRuleOnCrowdedTables)
{
    // Few names, sizes and times, so groups collide and repeat; names that
    // differ only in case form groups of their own.
    const char* const names[] = {"a.jpg", "A.jpg", "b.jpg", "写真.jpg", "c.gif", "a.jpg.jpg", "", "d"};
    for (const int rows : {0, 1, 17, 700, 3000}) {
        Dice dice(static_cast<std::uint64_t>(rows) + 1);
        ResultView view;
        for (int k = 0; k < rows; ++k) {
            const std::string name = names[dice.Below(std::size(names))] + std::to_string(dice.Below(rows / 4 + 1));
            testing::AddFoundFile(view.table,
                                  testing::FoundFile{name, "/p/" + std::to_string(k), dice.Below(3),
                                                     1000000000 + static_cast<std::int64_t>(dice.Below(4))});
        }
        view.FillResultView();
        testing::RecordingProgress progress;
        const std::vector<bool> picked = Flags(view, PickOlderCopies(view, progress));
        const std::vector<bool> expected = PlainAutoSelection(view);
        int selected = 0;
        for (int j = 0; j < view.list.GetItemCount(); ++j) {
            ASSERT_EQ(picked[static_cast<std::size_t>(j)], expected[static_cast<std::size_t>(j)])
                << rows << " rows, row " << j;
            selected += expected[static_cast<std::size_t>(j)];
        }
        if (rows >= 700) {
            EXPECT_GT(selected, 0);
        }
        // One position per listed row, between the range and the reset.
        ASSERT_EQ(progress.ops.size(), static_cast<std::size_t>(rows) + 2);
        EXPECT_EQ(progress.ops.front(), "range 0 " + std::to_string(rows));
        EXPECT_EQ(progress.ops.back(), "pos 0");

        // A list showing some rows still compares them with the whole table.
        if (rows >= 700) {
            std::vector<int> some;
            for (int k = 0; k < rows; k += 3)
                some.push_back(k);
            view.list.SetRows(view.table, some);
            const std::vector<bool> pickedSome = Flags(view, PickOlderCopies(view, progress));
            const std::vector<bool> expectedSome = PlainAutoSelection(view);
            for (int j = 0; j < view.list.GetItemCount(); ++j)
                ASSERT_EQ(pickedSome[static_cast<std::size_t>(j)], expectedSome[static_cast<std::size_t>(j)])
                    << "subset row " << j;
        }
    }
}

TEST(ScaleTest, ListOrderIsTheStableNameOrder)
{
    // Long shared beginnings, case variants, names that are beginnings of
    // others, NUL bytes (which no file name has, but the order is total).
    const std::vector<std::string> parts = {
        "IMG_2023",     "img_2023",    "0",           "a", "B", std::string("\0", 1),
        "\xe5\x86\x99", "Screenshot_", "screenshot_", "_", "~"};
    Dice dice(11);
    FileTable table;
    for (int k = 0; k < 4000; ++k) {
        std::string name;
        for (std::size_t n = dice.Below(5); n > 0; --n)
            name += parts[dice.Below(parts.size())];
        testing::AddFoundFile(table, testing::FoundFile{name, "/p", 0, 0});
    }
    // Given in an order of their own, as a chosen name's rows may come.
    std::vector<int> given;
    for (int k = 0; k < table.RowCount(); ++k)
        given.push_back(static_cast<int>((static_cast<long long>(k) * 7919) % table.RowCount()));
    std::vector<int> expected = given;
    std::stable_sort(expected.begin(), expected.end(),
                     [&table](int a, int b) { return CompareNames(table.Name(a), table.Name(b)) < 0; });
    ResultList list;
    list.SetRows(table, given);
    ASSERT_EQ(list.GetItemCount(), table.RowCount());
    for (int j = 0; j < list.GetItemCount(); ++j)
        ASSERT_EQ(list.TableRow(j), expected[static_cast<std::size_t>(j)]) << "row " << j;
}

TEST(ScaleTest, DateTextFollowsAChangeOfTimeZone)
{
    const char* const before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    auto zone = [](const char* tz) {
        testing::SetEnv("TZ", tz);
        tzset();
    };
    zone("UTC");
    EXPECT_EQ(DateText(0), "1970年01月01日 00:00:00");
    EXPECT_EQ(DateText(0), "1970年01月01日 00:00:00");
    zone("Asia/Tokyo");
    EXPECT_EQ(DateText(0), "1970年01月01日 09:00:00");
    EXPECT_EQ(DateText(1), "1970年01月01日 09:00:01");
    zone("UTC");
    EXPECT_EQ(DateText(1), "1970年01月01日 00:00:01");
    if (before) {
        zone(saved.c_str());
    } else {
        unsetenv("TZ");
        tzset();
    }
}

// Glob matching by the definition: '*' any run of bytes, '?' one byte, ASCII
// letters without case.
bool PlainMatch(const std::string& name, std::size_t n, const std::string& pattern, std::size_t p)
{
    if (p == pattern.size())
        return n == name.size();
    if (pattern[p] == '*')
        return PlainMatch(name, n, pattern, p + 1) || (n < name.size() && PlainMatch(name, n + 1, pattern, p));
    if (n == name.size())
        return false;
    auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return (pattern[p] == '?' || fold(pattern[p]) == fold(name[n])) && PlainMatch(name, n + 1, pattern, p + 1);
}

TEST(ScaleTest, TypePatternsMatchAsTheGlobDefinitionSays)
{
    const std::string bytes = "aAjJpP.g\x82@[`{z";
    Dice dice(7);
    auto word = [&](std::size_t most) {
        std::string w;
        for (std::size_t i = dice.Below(most + 1); i > 0; --i)
            w += bytes[dice.Below(bytes.size())];
        return w;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string name = word(6);
        // Mostly the shape of the type patterns ("*" then plain bytes), at
        // times with a wildcard in the tail.
        std::string pattern(1, '*');
        pattern += word(4);
        if (dice.Below(5) == 0) {
            const auto at = static_cast<std::ptrdiff_t>(1 + dice.Below(pattern.size()));
            pattern.insert(pattern.begin() + at, dice.Below(2) ? '?' : '*');
        }
        ASSERT_EQ(MatchesNamePattern(name, pattern), PlainMatch(name, 0, pattern, 0)) << name << " ~ " << pattern;
    }
}

}  // namespace
}  // namespace snapsift
