// SPDX-License-Identifier: MIT
// The result view, the duplicate-name combo box and the automatic selection.

#include "review/content_check.h"
#include "review/duplicate_combo.h"
#include "review/protection.h"
#include "review/result_view.h"
#include "support/table_rows.h"
#include "support/temp_tree.h"
#include "ui/fact_texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace snapsift {
namespace {

using Strings = std::vector<std::string>;

const std::string kPrompt = "重複検出、ここから選んで下さい";
const std::string kShowAll = "すべて表示";
const std::string kNoDuplicates = "重複ファイルはありません";

// What the entries show, as the window makes their texts.
Strings Texts(const std::vector<ComboEntry>& entries)
{
    Strings texts;
    for (const ComboEntry& e : entries)
        texts.push_back(ComboEntryText(e));
    return texts;
}

// One file for a table: the path is made unique from the row number.
struct File {
    std::string name;
    std::uint64_t size = 1;
    std::int64_t time = 1000000000;
};

void Fill(ResultView& view, const std::vector<File>& files)
{
    view.table.ClearFileTable();
    for (const File& f : files)
        testing::AddFoundFile(view.table, {f.name, "/p" + std::to_string(view.table.RowCount()), f.size, f.time});
}

std::vector<File> Named(const Strings& names)
{
    std::vector<File> files;
    for (const std::string& name : names)
        files.push_back({name});
    return files;
}

Strings ListNames(const ResultView& view)
{
    Strings texts;
    for (int j = 0; j < view.list.GetItemCount(); ++j)
        texts.emplace_back(view.table.Name(view.list.TableRow(j)));
    return texts;
}

Strings ListPaths(const ResultView& view)
{
    Strings texts;
    for (int j = 0; j < view.list.GetItemCount(); ++j)
        texts.push_back(view.table.Path(view.list.TableRow(j)));
    return texts;
}

// The paths of the list rows automatic selection picked.
std::set<std::string> SelectedPaths(const ResultView& view, const AutoSelectOutcome& outcome)
{
    std::set<std::string> paths;
    for (const int j : outcome.picked)
        paths.insert(view.table.Path(view.list.TableRow(j)));
    return paths;
}

void ChooseEntry(ResultView& view, const std::string& text)
{
    for (int i = 0; i < view.combo.GetCount(); ++i) {
        if (ComboEntryText(view.combo.GetLBText(i)) == text) {
            view.combo.SetCurSel(i);
            view.ShowSelectedDuplicates();
            return;
        }
    }
    ADD_FAILURE() << "no entry " << text;
}

class ReviewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        testing::SetEnv("TZ", "Asia/Tokyo");
        tzset();
    }
    ResultView view;
};

// ---- Duplicate names ---------------------------------------------------------

struct DuplicateCase {
    const char* label;
    Strings names;       // in table order
    Strings duplicates;  // offered, in combo order
};
void PrintTo(const DuplicateCase& c, std::ostream* out)
{
    *out << c.label;
}

class DuplicateNames : public ReviewTest, public ::testing::WithParamInterface<DuplicateCase> { };

TEST_P(DuplicateNames, OfferedOnceEachInNameOrder)
{
    const DuplicateCase& c = GetParam();
    Fill(view, Named(c.names));
    view.FillResultView();
    EXPECT_EQ(view.list.GetItemCount(), static_cast<int>(c.names.size()));
    if (c.duplicates.empty()) {
        EXPECT_EQ(view.combo.GetCount(), 0);
        EXPECT_EQ(view.combo.GetCurSel(), -1);
        EXPECT_EQ(ComboEntryText(view.combo.Field()), kNoDuplicates);
        return;
    }
    Strings expected = c.duplicates;
    expected.insert(expected.begin(), kPrompt);
    EXPECT_EQ(Texts(view.combo.Entries()), expected);
    EXPECT_EQ(view.combo.GetCurSel(), 0);
    EXPECT_EQ(ComboEntryText(view.combo.Field()), kPrompt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DuplicateNames,
    ::testing::Values(
        DuplicateCase{"all distinct", {"c.jpg", "a.jpg", "b.jpg"}, {}},
        DuplicateCase{"differ only in case", {"A.JPG", "a.jpg"}, {}},
        DuplicateCase{"three rows, offered once", {"x.jpg", "y.jpg", "x.jpg", "x.jpg"}, {"x.jpg"}},
        DuplicateCase{
            "a name that begins another", {"a.jpg.jpg", "a.jpg", "a.jpg.jpg", "a.jpg"}, {"a.jpg", "a.jpg.jpg"}},
        DuplicateCase{"case variants twice each", {"IMG.JPG", "img.jpg", "IMG.JPG", "img.jpg"}, {"IMG.JPG", "img.jpg"}},
        DuplicateCase{"combo in name order",
                      {"b.jpg", "B.jpg", "c.jpg", "a.jpg", "b.jpg", "C.jpg", "a.jpg", "c.jpg"},
                      {"a.jpg", "b.jpg", "c.jpg"}},
        DuplicateCase{
            "case variants in name order",
            {"b.jpg", "a.jpg", "B.jpg", "\x82\xa0.jpg", "A.JPG", "A.JPG", "\x82\xa0.jpg", "B.jpg", "a.jpg", "b.jpg"},
            {"A.JPG", "a.jpg", "B.jpg", "b.jpg", "\x82\xa0.jpg"}},
        DuplicateCase{"bytes above 0x7f",
                      {"\x82\xa0.jpg", "z.jpg", "\x82\xa0.jpg", "z.jpg", "\x82\xa1.jpg"},
                      {"z.jpg", "\x82\xa0.jpg"}}),
    [](const auto& info) {
        std::string name = info.param.label;
        for (char& ch : name)
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

// ---- The list ----------------------------------------------------------------

TEST_F(ReviewTest, ListIsInNameOrderWithEqualNamesInTableOrder)
{
    Fill(view, Named({"b.jpg", "A.jpg", "a.jpg", "B.jpg", "a.jpg", "\x82\xa0.jpg"}));
    view.FillResultView();
    EXPECT_EQ(ListNames(view), (Strings{"A.jpg", "a.jpg", "a.jpg", "B.jpg", "b.jpg", "\x82\xa0.jpg"}));
    EXPECT_EQ(ListPaths(view),
              (Strings{"/p1/A.jpg", "/p2/a.jpg", "/p4/a.jpg", "/p3/B.jpg", "/p0/b.jpg", "/p5/\x82\xa0.jpg"}));
}

TEST_F(ReviewTest, ComboStatesFollowTheUsersSteps)
{
    Fill(view, Named({"b.jpg", "a.jpg", "B.jpg", "b.jpg", "a.jpg", "c.jpg"}));

    // Prompt.
    view.FillResultView();
    EXPECT_EQ(Texts(view.combo.Entries()), (Strings{kPrompt, "a.jpg", "b.jpg"}));
    EXPECT_EQ(view.combo.GetCurSel(), 0);

    // The prompt selected lists nothing.
    view.ShowSelectedDuplicates();
    EXPECT_EQ(view.list.GetItemCount(), 0);

    // Show all offered; opening the list again changes nothing.
    for (int opened = 0; opened < 2; ++opened) {
        view.OnDuplicateDropDown();
        EXPECT_EQ(Texts(view.combo.Entries()), (Strings{kShowAll, "a.jpg", "b.jpg"}));
        EXPECT_EQ(view.combo.GetCurSel(), -1);
        EXPECT_EQ(ComboEntryText(view.combo.Field()), kPrompt);
    }

    // Name chosen: exactly that name's rows, case variants left out.
    ChooseEntry(view, "b.jpg");
    EXPECT_EQ(ListPaths(view), (Strings{"/p0/b.jpg", "/p3/b.jpg"}));
    EXPECT_EQ(ComboEntryText(view.combo.Field()), "b.jpg");

    // Show all again: every row and the prompt back on top, selected.
    ChooseEntry(view, kShowAll);
    EXPECT_EQ(view.list.GetItemCount(), 6);
    EXPECT_EQ(Texts(view.combo.Entries()), (Strings{kPrompt, "a.jpg", "b.jpg"}));
    EXPECT_EQ(view.combo.GetCurSel(), 0);

    // A name reached with the prompt still first stays chosen when the list opens.
    view.combo.SetCurSel(1);
    view.OnDuplicateDropDown();
    EXPECT_EQ(Texts(view.combo.Entries()), (Strings{kShowAll, "a.jpg", "b.jpg"}));
    EXPECT_EQ(view.combo.GetCurSel(), 1);
    EXPECT_EQ(ComboEntryText(view.combo.Field()), "a.jpg");

    // No entry selected lists nothing.
    view.combo.SetCurSel(-1);
    view.ShowSelectedDuplicates();
    EXPECT_EQ(view.list.GetItemCount(), 0);

    // Empty.
    view.ClearResults();
    EXPECT_EQ(view.combo.GetCount(), 0);
    EXPECT_EQ(view.combo.GetCurSel(), -1);
    EXPECT_EQ(ComboEntryText(view.combo.Field()), "");
    EXPECT_EQ(view.list.GetItemCount(), 0);
    EXPECT_EQ(view.table.RowCount(), 0);
    view.OnDuplicateDropDown();
    EXPECT_EQ(view.combo.GetCount(), 0);
}

TEST_F(ReviewTest, ChosenNameStaysAfterItsRowsAreGoneAndShowAllFindsNoDuplicates)
{
    Fill(view, Named({"a.jpg", "b.jpg", "a.jpg"}));
    view.FillResultView();
    view.OnDuplicateDropDown();
    ChooseEntry(view, "a.jpg");
    view.table.RemoveFileRows({false, false, true});  // as a deletion does
    view.ShowSelectedDuplicates();
    EXPECT_EQ(ListPaths(view), Strings{"/p0/a.jpg"});
    EXPECT_EQ(Texts(view.combo.Entries()), (Strings{kShowAll, "a.jpg"}));

    ChooseEntry(view, kShowAll);
    EXPECT_EQ(view.list.GetItemCount(), 2);
    EXPECT_EQ(view.combo.GetCount(), 0);
    EXPECT_EQ(ComboEntryText(view.combo.Field()), kNoDuplicates);
    EXPECT_TRUE(view.buttons.autoSelect);  // enabled by the first fill, never disabled by a fill
    EXPECT_TRUE(view.buttons.deleteSelected);
}

TEST_F(ReviewTest, FilesNamedLikeTheCombosOwnEntriesAreNamesLikeAnyOther)
{
    // Names that read like the prompt, the show-all entry and the note in the
    // field: each is chosen for its own rows, and only the real show-all
    // entry lists every row.
    Fill(view, Named({kShowAll, "a.jpg", kPrompt, kShowAll, kPrompt, kNoDuplicates, kNoDuplicates}));
    view.FillResultView();
    const std::vector<ComboEntry> filled = view.combo.Entries();
    ASSERT_EQ(filled.size(), 4u);
    EXPECT_EQ(filled[0], ComboEntry::Of(ComboEntryKind::Prompt));
    for (std::size_t i = 1; i < filled.size(); ++i)
        EXPECT_EQ(filled[i].kind, ComboEntryKind::Name) << i;

    for (int opened = 0; opened < 2; ++opened) {
        view.OnDuplicateDropDown();
        const std::vector<ComboEntry>& entries = view.combo.Entries();
        ASSERT_EQ(entries.size(), 4u);
        EXPECT_EQ(entries[0], ComboEntry::Of(ComboEntryKind::ShowAll));
        EXPECT_EQ(std::vector<ComboEntry>(entries.begin() + 1, entries.end()),
                  std::vector<ComboEntry>(filled.begin() + 1, filled.end()));
    }

    for (const std::string& name : {kShowAll, kPrompt, kNoDuplicates}) {
        SCOPED_TRACE(name);
        const auto& entries = view.combo.Entries();
        const auto at = std::find(entries.begin(), entries.end(), ComboEntry::Named(name));
        ASSERT_NE(at, entries.end());
        view.combo.SetCurSel(static_cast<int>(at - entries.begin()));
        view.ShowSelectedDuplicates();
        EXPECT_EQ(ListNames(view), (Strings{name, name}));
        EXPECT_EQ(view.combo.Field(), ComboEntry::Named(name));
    }

    view.combo.SetCurSel(0);
    view.ShowSelectedDuplicates();
    EXPECT_EQ(view.list.GetItemCount(), 7);
    EXPECT_EQ(view.combo.Entries(), filled);
}

TEST_F(ReviewTest, ButtonRules)
{
    struct Case {
        const char* label;
        Strings names;
        ResultButtons before;
        ResultButtons after;
    };
    const ResultButtons off{false, false, false};
    const ResultButtons on{true, true, true};
    const std::vector<Case> cases = {
        {"empty table", {}, off, off},
        {"empty table keeps enabled", {}, on, on},
        {"no duplicates", {"a.jpg", "b.jpg"}, off, {false, false, true}},
        {"no duplicates keeps enabled", {"a.jpg", "b.jpg"}, on, on},
        {"duplicates", {"a.jpg", "a.jpg"}, off, on},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Fill(view, Named(c.names));
        view.buttons = c.before;
        view.FillResultView();
        EXPECT_EQ(view.buttons.autoSelect, c.after.autoSelect);
        EXPECT_EQ(view.buttons.deleteSelected, c.after.deleteSelected);
        EXPECT_EQ(view.buttons.clear, c.after.clear);

        view.OnDuplicateDropDown();
        view.combo.SetCurSel(view.combo.GetCount() - 1);
        view.ShowSelectedDuplicates();
        EXPECT_EQ(view.buttons.clear, c.after.clear) << "changed by choosing a name";

        view.ClearResults();
        EXPECT_FALSE(view.buttons.autoSelect || view.buttons.deleteSelected || view.buttons.clear);
    }
}

// ---- The combo box's own operations -------------------------------------------

TEST(DuplicateComboTest, FindStringMatchesBeginningsIgnoringCaseAndWraps)
{
    DuplicateCombo combo;
    EXPECT_EQ(combo.FindString(-1, "a"), -1);
    for (const char* text : {"abc.jpg", "ABD.jpg", "b.jpg", "Ab.jpg"})
        combo.InsertString(-1, ComboEntry::Named(text));
    struct Case {
        int start;
        const char* text;
        int found;
    };
    const std::vector<Case> cases = {
        {-1, "ab", 0}, {-1, "ABD", 1}, {-1, "b.JPG", 2}, {-1, "", 0}, {-1, "abc.jpg.jpg", -1}, {-1, "c", -1},
        {0, "ab", 1},  {1, "ab", 3},   {3, "ab", 0},     {2, "b", 2}, {0, "abc", 0},           {7, "ab", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(combo.FindString(c.start, c.text), c.found) << c.start << " " << c.text;
}

TEST(DuplicateComboTest, SetCurSelAndDeleteString)
{
    DuplicateCombo combo;
    for (const char* text : {"p", "x.jpg", "y.jpg"})
        combo.InsertString(-1, ComboEntry::Named(text));
    combo.SetCurSel(combo.FindString(0, "P"));  // wraps around to the first
    EXPECT_EQ(combo.GetCurSel(), 0);
    EXPECT_EQ(ComboEntryText(combo.Field()), "p");

    combo.SetCurSel(combo.FindString(-1, "Y"));
    EXPECT_EQ(combo.GetCurSel(), 2);
    EXPECT_EQ(ComboEntryText(combo.Field()), "y.jpg");
    EXPECT_EQ(combo.DeleteString(0), 2);  // an entry above the selection
    EXPECT_EQ(combo.GetCurSel(), 1);
    EXPECT_EQ(combo.DeleteString(1), 1);  // the selected entry
    EXPECT_EQ(combo.GetCurSel(), -1);
    EXPECT_EQ(ComboEntryText(combo.Field()), "y.jpg");
    EXPECT_EQ(combo.DeleteString(5), -1);
    EXPECT_EQ(Texts(combo.Entries()), Strings{"x.jpg"});

    combo.ResetContent();
    EXPECT_EQ(combo.GetCount(), 0);
    EXPECT_EQ(ComboEntryText(combo.Field()), "");
}

TEST(DuplicateComboTest, InsertStringKeepsTheSelection)
{
    DuplicateCombo combo;
    combo.SetEntries({ComboEntry::Named("a.jpg"), ComboEntry::Named("b.jpg")});
    combo.SetCurSel(1);
    EXPECT_EQ(combo.InsertString(0, ComboEntry::Named("A.JPG")), 0);
    EXPECT_EQ(combo.InsertString(3, ComboEntry::Named("c.jpg")), 3);
    EXPECT_EQ(combo.InsertString(7, ComboEntry::Of(ComboEntryKind::ShowAll)), 4);  // past the end: last
    EXPECT_EQ(Texts(combo.Entries()), (Strings{"A.JPG", "a.jpg", "b.jpg", "c.jpg", kShowAll}));
    EXPECT_EQ(combo.GetCurSel(), 2);
    EXPECT_EQ(ComboEntryText(combo.Field()), "b.jpg");
}

// ---- Automatic selection -----------------------------------------------------

struct AutoCase {
    const char* label;
    std::vector<File> files;
    std::set<int> selected;      // table rows
    const char* zone = nullptr;  // the time zone the list shows its dates in, when not the usual one
};
void PrintTo(const AutoCase& c, std::ostream* out)
{
    *out << c.label;
}

class AutoSelect : public ReviewTest, public ::testing::WithParamInterface<AutoCase> {
protected:
    std::set<std::string> PathsOf(const std::set<int>& rows) const
    {
        std::set<std::string> paths;
        for (int k : rows)
            paths.insert(view.table.Path(k));
        return paths;
    }
};

constexpr std::int64_t kT1 = 946652399;  // 1999-12-31 23:59:59 here
constexpr std::int64_t kT2 = 946652400;  // 2000-01-01 00:00:00
constexpr std::int64_t kT3 = 946652401;

TEST_P(AutoSelect, SelectsEveryCopyOlderThanAnotherOfTheSameNameAndSize)
{
    const AutoCase& c = GetParam();
    if (c.zone) {
        testing::SetEnv("TZ", c.zone);
        tzset();
        // The case is only worth its name while the texts run against the times.
        ASSERT_LT(DateText(c.files[0].time), DateText(c.files[1].time));
    }
    Fill(view, c.files);
    view.FillResultView();
    const FileTable before = view.table;
    const Strings entries = Texts(view.combo.Entries());

    testing::RecordingProgress progress;
    EXPECT_EQ(SelectedPaths(view, PickOlderCopies(view, progress)), PathsOf(c.selected));

    ASSERT_FALSE(progress.ops.empty());
    EXPECT_EQ(progress.ops.back(), "pos 0");
    EXPECT_EQ(ListPaths(view).size(), static_cast<std::size_t>(before.RowCount()));
    for (int k = 0; k < before.RowCount(); ++k)
        EXPECT_EQ(view.table.Path(k), before.Path(k));
    EXPECT_EQ(Texts(view.combo.Entries()), entries);

    // In the view of one name, only its rows, with the same result for them.
    for (int e = 1; e < static_cast<int>(entries.size()); ++e) {
        const std::string& name = entries[e];
        SCOPED_TRACE(name);
        view.combo.SetCurSel(e);
        view.ShowSelectedDuplicates();
        progress.ops.clear();
        const AutoSelectOutcome picked = PickOlderCopies(view, progress);
        std::set<int> rows;
        for (int k : c.selected) {
            if (view.table.Name(k) == name)
                rows.insert(k);
        }
        EXPECT_EQ(SelectedPaths(view, picked), PathsOf(rows));
        ASSERT_FALSE(progress.ops.empty());
        EXPECT_EQ(progress.ops.back(), "pos 0");
    }
    if (c.zone) {
        testing::SetEnv("TZ", "Asia/Tokyo");
        tzset();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AutoSelect,
    ::testing::Values(
        AutoCase{"t1_t2_t3_keeps_the_newest", {{"a.jpg", 5, kT3}, {"a.jpg", 5, kT1}, {"a.jpg", 5, kT2}}, {1, 2}},
        AutoCase{"equal_dates_keep_both", {{"a.jpg", 5, kT2}, {"a.jpg", 5, kT2}}, {}},
        AutoCase{"equal_newest_dates_keep_both", {{"a.jpg", 5, kT2}, {"a.jpg", 5, kT1}, {"a.jpg", 5, kT2}}, {1}},
        AutoCase{"different_sizes_are_separate_groups",
                 {{"a.jpg", 100, kT1}, {"a.jpg", 200, kT2}, {"a.jpg", 100, kT3}, {"a.jpg", 200, kT1}},
                 {0, 3}},
        AutoCase{"case_variants_are_separate_groups", {{"A.JPG", 5, kT1}, {"a.jpg", 5, kT2}, {"a.JPG", 5, kT3}}, {}},
        AutoCase{"other_names_are_separate_groups",
                 {{"a.jpg", 5, kT1}, {"b.jpg", 5, kT2}, {"b.jpg", 5, kT1}, {"c.jpg", 5, kT3}},
                 {2}},
        AutoCase{"before_1970_and_after_2038", {{"a.jpg", 5, 4133948398}, {"a.jpg", 5, -1}, {"a.jpg", 5, 0}}, {1, 2}},
        AutoCase{"empty_table", {}, {}},
        // 05:50 and 06:10 UTC on 2023-11-05 show as 01:50 EDT and 01:10 EST:
        // the newer copy shows the earlier text, and is still the one kept.
        AutoCase{"autumn_clock_change", {{"a.jpg", 5, 1699164600}, {"a.jpg", 5, 1699163400}}, {1}, "America/New_York"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ReviewTest, AutoSelectOnAnEmptyListSelectsNothing)
{
    Fill(view, {{"a.jpg", 5, kT1}, {"a.jpg", 5, kT2}});
    view.FillResultView();
    view.ShowSelectedDuplicates();  // the prompt: no rows
    ASSERT_EQ(view.list.GetItemCount(), 0);
    testing::RecordingProgress progress;
    PickOlderCopies(view, progress);
    EXPECT_EQ(progress.ops, (Strings{"range 0 2", "pos 0"}));
}

// ---- Automatic selection that compares contents -----------------------------

// One copy on disk: its folder, its bytes (the common bytes, or them with one
// byte changed) and the creation time its row carries.
struct DiskCopy {
    const char* folder;
    char bytes;  // 'A' common, 'F' first byte changed, 'M' middle, 'L' last, 'B' every byte
    std::int64_t time;
};

enum class Twist {
    None,
    SecondIsLinkToFirst,        // copy 1 is a hard link of copy 0: one file reached twice
    FirstSwappedAfterSearch,    // copy 0 replaced by a new file with the same bytes
    ProtectFirstFolderViaLink,  // copy 0's folder protected through a symbolic link
    ProtectFirstFolderViaDots,  // the same, through a path with ".."
    StopAtFirstRead,            // the check is stopped (Esc) after its first read
};

struct VerifyCase {
    const char* label;
    std::uint64_t size;
    std::vector<DiskCopy> copies;
    std::set<int> selected;  // copies
    int differing = 0;
    Twist twist = Twist::None;
    int unreadable = 0;
};
void PrintTo(const VerifyCase& c, std::ostream* out)
{
    *out << c.label;
}

std::string Bytes(std::uint64_t size, char variant)
{
    std::string bytes(size, '\0');
    std::uint32_t x = 12345;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    const auto flip = [&bytes](std::uint64_t at) { bytes[at] = static_cast<char>(bytes[at] ^ 0x5a); };
    if (size > 0 && variant == 'F')
        flip(0);
    if (size > 0 && variant == 'M')
        flip(size / 2);
    if (size > 0 && variant == 'L')
        flip(size - 1);
    if (variant == 'B')
        for (char& c : bytes)
            c = static_cast<char>(~c);
    return bytes;
}

class VerifiedAutoSelect : public ReviewTest, public ::testing::WithParamInterface<VerifyCase> {
protected:
    testing::TempDir tmp;
    std::vector<std::string> paths;

    void Build(const VerifyCase& c)
    {
        for (std::size_t i = 0; i < c.copies.size(); ++i) {
            const std::string relative = std::string(c.copies[i].folder) + "/same name.bmp";
            if (i == 1 && c.twist == Twist::SecondIsLinkToFirst) {
                tmp.MakeFolder(c.copies[i].folder);
                ASSERT_EQ(link(paths[0].c_str(), (tmp / relative).c_str()), 0);
                paths.push_back(tmp / relative);
            } else {
                paths.push_back(tmp.WriteFile(relative, Bytes(c.size, c.copies[i].bytes)));
            }
        }
        for (std::size_t i = 0; i < c.copies.size(); ++i) {
            const auto facts = StatRegularFile(paths[i]);
            ASSERT_TRUE(facts);
            testing::AddFoundFile(
                view.table, {"same name.bmp", tmp / c.copies[i].folder, c.size, c.copies[i].time, facts->identity});
        }
        view.FillResultView();
    }
};

TEST_P(VerifiedAutoSelect, PicksOnlyCopiesWithTheBytesOfALaterCopy)
{
    const VerifyCase& c = GetParam();
    Build(c);
    ProtectedFolders protection;
    if (c.twist == Twist::ProtectFirstFolderViaLink) {
        ASSERT_EQ(symlink((tmp / c.copies[0].folder).c_str(), (tmp / "way in").c_str()), 0);
        ASSERT_TRUE(protection.Add(tmp / "way in"));
    }
    if (c.twist == Twist::ProtectFirstFolderViaDots) {
        tmp.MakeFolder("elsewhere");
        ASSERT_TRUE(protection.Add(tmp / ("elsewhere/../" + std::string(c.copies[0].folder))));
    }
    if (c.twist == Twist::FirstSwappedAfterSearch) {
        const std::string swap = tmp.WriteFile("swap.bmp", testing::ReadFile(paths[0]));
        ASSERT_EQ(rename(swap.c_str(), paths[0].c_str()), 0);
    }
    ContentChecker checker;
    if (c.twist == Twist::StopAtFirstRead)
        checker.afterRead = [&checker](std::uint64_t) { checker.RequestStop(); };
    const std::vector<std::uint8_t> protectedRows = ProtectedRowFlags(view.table, protection);
    testing::RecordingProgress progress;
    const AutoSelectOutcome outcome = PickOlderCopies(view, progress, {&checker, &protectedRows});

    std::set<std::string> expected;
    for (int i : c.selected)
        expected.insert(paths[static_cast<std::size_t>(i)]);
    if (c.twist == Twist::StopAtFirstRead) {
        EXPECT_TRUE(outcome.stopped);
        expected = {};  // a stopped run picks nothing: the selection stays as it was
    }
    EXPECT_EQ(SelectedPaths(view, outcome), expected);
    EXPECT_EQ(outcome.differing, c.differing);
    EXPECT_EQ(outcome.unreadable, c.unreadable);
    if (c.twist == Twist::SecondIsLinkToFirst) {
        EXPECT_EQ(checker.BytesRead(), 0u);
    }
    if (c.twist == Twist::StopAtFirstRead)
        return;
    ASSERT_FALSE(progress.ops.empty());
    EXPECT_EQ(progress.ops.back(), "pos 0");

    // A second run reads nothing while the files stay as they are, and gives
    // the same answer.
    const std::uint64_t read = checker.BytesRead();
    const AutoSelectOutcome again = PickOlderCopies(view, progress, {&checker, &protectedRows});
    EXPECT_EQ(again.differing, c.differing);
    EXPECT_EQ(SelectedPaths(view, again), expected);
    EXPECT_EQ(checker.BytesRead(), read);
    // Without comparing contents, the rule of names, sizes and dates alone.
    EXPECT_GE(SelectedPaths(view, PickOlderCopies(view, progress, {nullptr, &protectedRows})).size(), expected.size());
}

constexpr std::size_t kBig = 300 * 1024 + 7;  // head, middle and tail all read

INSTANTIATE_TEST_SUITE_P(
    Cases, VerifiedAutoSelect,
    ::testing::Values(
        VerifyCase{"same_bytes", kBig, {{"old", 'A', kT1}, {"new", 'A', kT2}}, {0}},
        VerifyCase{"last_byte_differs", kBig, {{"old", 'L', kT1}, {"new", 'A', kT2}}, {}, 1},
        VerifyCase{"first_byte_differs", kBig, {{"old", 'F', kT1}, {"new", 'A', kT2}}, {}, 1},
        VerifyCase{"middle_byte_differs", kBig, {{"old", 'M', kT1}, {"new", 'A', kT2}}, {}, 1},
        VerifyCase{"small_last_byte_differs", 100, {{"old", 'L', kT1}, {"new", 'A', kT2}}, {}, 1},
        VerifyCase{"empty_files_are_the_same", 0, {{"old", 'A', kT1}, {"new", 'A', kT2}}, {0}},
        VerifyCase{"three_copies_middle_differs", kBig, {{"a", 'A', kT1}, {"b", 'M', kT2}, {"c", 'A', kT3}}, {0}, 1},
        VerifyCase{"three_copies_newest_differs", kBig, {{"a", 'A', kT1}, {"b", 'A', kT2}, {"c", 'B', kT3}}, {0}, 1},
        VerifyCase{"equal_times_keep_both", kBig, {{"a", 'A', kT2}, {"b", 'A', kT2}}, {}},
        VerifyCase{
            "one_file_reached_twice", kBig, {{"a", 'A', kT1}, {"b", 'A', kT2}}, {0}, 0, Twist::SecondIsLinkToFirst},
        VerifyCase{"swapped_after_the_search",
                   kBig,
                   {{"a", 'A', kT1}, {"b", 'A', kT2}},
                   {},
                   0,
                   Twist::FirstSwappedAfterSearch,
                   1},
        VerifyCase{"protected_through_a_link",
                   kBig,
                   {{"p", 'A', kT1}, {"b", 'A', kT2}, {"c", 'A', kT3}},
                   {1},
                   0,
                   Twist::ProtectFirstFolderViaLink},
        VerifyCase{"protected_newest_still_keeps_others",
                   kBig,
                   {{"p", 'A', kT3}, {"b", 'A', kT2}, {"c", 'A', kT1}},
                   {1, 2},
                   0,
                   Twist::ProtectFirstFolderViaDots},
        VerifyCase{"stopped_changes_nothing", kBig, {{"a", 'A', kT1}, {"b", 'A', kT2}}, {}, 0, Twist::StopAtFirstRead}),
    [](const auto& info) { return std::string(info.param.label); });

// Large sparse copies: where both files are holes nothing is read, yet one
// changed byte among their data, or data where the other has a hole, is
// still found; a hole and written zeros are the same bytes.
TEST_F(ReviewTest, SparseCopiesAreComparedByTheirDataAndHoles)
{
    constexpr std::uint64_t kSize = std::uint64_t{256} << 20;
    constexpr std::uint64_t kDataAt = std::uint64_t{128} << 20;
    const std::string data = Bytes(64 * 1024, 'A');
    struct Copy {
        const char* folder;
        std::string middle;  // written at kDataAt; empty leaves a hole there
    };
    struct Case {
        const char* label;
        Copy older, newer;
        bool selected;
        bool readLittle;  // far less than the files' size
    };
    const std::string changed = Bytes(64 * 1024, 'M');
    const std::string zeros(64 * 1024, '\0');
    for (const Case& c : {Case{"same data, same holes", {"a", data}, {"b", data}, true, true},
                          Case{"one byte of the data differs", {"a", changed}, {"b", data}, false, true},
                          Case{"data against a hole", {"a", data}, {"b", ""}, false, true},
                          Case{"written zeros against a hole", {"a", zeros}, {"b", ""}, true, false}}) {
        SCOPED_TRACE(c.label);
        testing::TempDir tmp;
        ResultView sparse;
        for (const auto& [copy, time] : {std::pair{c.older, kT1}, std::pair{c.newer, kT2}}) {
            tmp.MakeFolder(copy.folder);
            const std::string path = tmp / (std::string(copy.folder) + "/big.bmp");
            const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            ASSERT_GE(fd, 0);
            const std::string head = Bytes(1024, 'A');
            bool ok = pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
                      ftruncate(fd, static_cast<off_t>(kSize)) == 0;
            if (!copy.middle.empty())
                ok = ok && pwrite(fd, copy.middle.data(), copy.middle.size(), static_cast<off_t>(kDataAt)) ==
                               static_cast<ssize_t>(copy.middle.size());
            close(fd);
            ASSERT_TRUE(ok);
            testing::AddFoundFile(sparse.table,
                                  {"big.bmp", tmp / copy.folder, kSize, time, StatRegularFile(path)->identity});
        }
        sparse.FillResultView();
        ContentChecker checker;
        testing::RecordingProgress progress;
        const AutoSelectOutcome outcome = PickOlderCopies(sparse, progress, {&checker, nullptr});
        EXPECT_EQ(SelectedPaths(sparse, outcome).size(), c.selected ? 1u : 0u);
        EXPECT_EQ(outcome.differing, c.selected ? 0 : 1);
        if (c.readLittle) {
            EXPECT_LT(checker.BytesRead(), kSize / 4);
        }
    }
}

// Many copies of one name and size with different bytes: each file's ends are
// read once, not every pair compared, and the one true copy is still found.
TEST_F(ReviewTest, ManyDifferentCopiesCostOneReadOfTheirEnds)
{
    testing::TempDir tmp;
    constexpr int kOthers = 20;
    std::vector<std::string> paths;
    for (int i = 0; i <= kOthers + 1; ++i) {
        std::string bytes = Bytes(kBig, 'A');
        if (i > 0 && i <= kOthers)
            bytes[100 + static_cast<std::size_t>(i)] ^= 0x5a;
        std::string folder = "f";  // appended: GCC 12's Release build warns falsely on "…" + string&&
        folder += std::to_string(i);
        paths.push_back(tmp.WriteFile(folder + "/x.bmp", bytes));
        // The first is the oldest, the last the newest: both hold the common bytes.
        testing::AddFoundFile(view.table,
                              {"x.bmp", tmp / folder, kBig, kT1 + i, StatRegularFile(paths.back())->identity});
    }
    view.FillResultView();
    ContentChecker checker;
    testing::RecordingProgress progress;
    const AutoSelectOutcome outcome = PickOlderCopies(view, progress, {&checker, nullptr});
    EXPECT_EQ(SelectedPaths(view, outcome), (std::set<std::string>{paths.front()}));
    EXPECT_EQ(outcome.differing, kOthers);
    EXPECT_LT(checker.BytesRead(), 3 * kBig * paths.size());
    // The side-by-side window's answer for two copies with different ends.
    int first = -1, other = -1;
    for (int row = 0; row < view.table.RowCount(); ++row) {
        if (view.table.Path(row) == paths.front())
            first = row;
        if (view.table.Path(row) == paths[1])
            other = row;
    }
    EXPECT_EQ(checker.KnownEqual(view.table, first, other), std::optional<bool>(false));
}

TEST_F(ReviewTest, ContentAnswerIsReadAgainWhenAFileChanges)
{
    testing::TempDir tmp;
    const std::string older = tmp.WriteFile("a/x.jpg", Bytes(kBig, 'A'));
    const std::string newer = tmp.WriteFile("b/x.jpg", Bytes(kBig, 'A'));
    for (const auto& [folder, time, path] : {std::tuple{"a", kT1, older}, std::tuple{"b", kT2, newer}})
        testing::AddFoundFile(view.table, {"x.jpg", tmp / folder, kBig, time, StatRegularFile(path)->identity});
    view.FillResultView();
    ContentChecker checker;
    testing::RecordingProgress progress;
    EXPECT_EQ(SelectedPaths(view, PickOlderCopies(view, progress, {&checker, nullptr})),
              (std::set<std::string>{older}));
    EXPECT_EQ(checker.KnownEqual(view.table, 0, 1), std::optional<bool>(true));

    // Rewritten in place with one byte changed: same file, same size, new
    // modification time. The remembered answer no longer holds.
    const std::uint64_t read = checker.BytesRead();
    {
        std::FILE* f = std::fopen(older.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fseek(f, static_cast<long>(kBig / 2), SEEK_SET);
        std::fputc(Bytes(kBig, 'M')[kBig / 2], f);
        std::fclose(f);
        const struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, older.c_str(), times, 0), 0);
    }
    EXPECT_EQ(checker.KnownEqual(view.table, 0, 1), std::nullopt);
    const AutoSelectOutcome outcome = PickOlderCopies(view, progress, {&checker, nullptr});
    EXPECT_GT(checker.BytesRead(), read);
    EXPECT_EQ(outcome.differing, 1);
    EXPECT_TRUE(SelectedPaths(view, outcome).empty());
    EXPECT_EQ(checker.KnownEqual(view.table, 0, 1), std::optional<bool>(false));
}

// A stop ends the check at once, also while one of its reads does not
// return: that read's thread is left to end alone, and neither the checker
// nor the table it was given is touched by it once the check has returned
// (both are gone when it goes on here).
TEST_F(ReviewTest, StoppedCheckReturnsWhileAReadIsHeld)
{
    struct Held {
        std::mutex mutex;
        std::condition_variable changed;
        int holding = 0;
        bool open = false;
        int left = 0;
    };
    const auto held = std::make_shared<Held>();
    testing::TempDir tmp;
    {
        auto found = std::make_unique<ResultView>();
        const std::string older = tmp.WriteFile("a/x.jpg", Bytes(kBig, 'A'));
        const std::string newer = tmp.WriteFile("b/x.jpg", Bytes(kBig, 'A'));
        for (const auto& [folder, time, path] : {std::tuple{"a", kT1, older}, std::tuple{"b", kT2, newer}})
            testing::AddFoundFile(found->table, {"x.jpg", tmp / folder, kBig, time, StatRegularFile(path)->identity});
        found->FillResultView();
        auto checker = std::make_unique<ContentChecker>();
        checker->afterRead = [held](std::uint64_t) {
            std::unique_lock lock(held->mutex);
            ++held->holding;
            held->changed.notify_all();
            held->changed.wait(lock, [&] { return held->open; });
            ++held->left;
            held->changed.notify_all();
        };
        std::thread stopper([&] {
            std::unique_lock lock(held->mutex);
            held->changed.wait(lock, [&] { return held->holding > 0; });
            checker->RequestStop();
        });
        testing::RecordingProgress progress;
        const AutoSelectOutcome outcome = PickOlderCopies(*found, progress, {checker.get(), nullptr});
        stopper.join();
        EXPECT_TRUE(outcome.stopped);
        EXPECT_TRUE(SelectedPaths(*found, outcome).empty());
        {
            const std::lock_guard lock(held->mutex);
            EXPECT_EQ(held->left, 0) << "the check waited for its held read";
        }
        checker.reset();
        found.reset();
    }
    std::unique_lock lock(held->mutex);
    held->open = true;
    held->changed.notify_all();
    EXPECT_TRUE(held->changed.wait_for(lock, std::chrono::minutes(1), [&] { return held->left == held->holding; }));
}

TEST(ProtectedFoldersTest, CoversTheFolderAndBelowWhicheverWayItIsNamed)
{
    testing::TempDir tmp;
    tmp.MakeFolder("keep/deep");
    tmp.MakeFolder("keeper");
    ASSERT_EQ(symlink((tmp / "keep").c_str(), (tmp / "link").c_str()), 0);
    ProtectedFolders folders;
    EXPECT_FALSE(folders.Add(tmp / "missing"));
    ASSERT_TRUE(folders.Add(tmp / "link"));
    EXPECT_TRUE(folders.IsProtected(tmp / "keep"));
    EXPECT_TRUE(folders.IsProtected(tmp / "keeper/../keep/"));
    EXPECT_TRUE(folders.Covers(tmp / "keep"));
    EXPECT_TRUE(folders.Covers(tmp / "keep/deep"));
    EXPECT_TRUE(folders.Covers(tmp / "link/deep"));
    EXPECT_FALSE(folders.Covers(tmp / "keeper"));  // a name that only begins alike
    EXPECT_FALSE(folders.Covers(tmp.Path()));
    folders.Remove(tmp / "link");
    EXPECT_FALSE(folders.IsProtected(tmp / "keep"));
    EXPECT_TRUE(folders.IsProtected(tmp / "missing"));  // by its path, for when it comes back
}

}  // namespace
}  // namespace snapsift
