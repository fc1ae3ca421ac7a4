// SPDX-License-Identifier: MIT
// Hostile trees through the window, offscreen: the buttons search, select and
// delete as in the core, and every button does what it should in every state.
#include "delete/delete_selected.h"
#include "hostile_trees.h"
#include "platform/progress.h"
#include "scan/folder_scan.h"
#include "support/table_rows.h"
#include "support/temp_tree.h"
#include "support/window_under_test.h"
#include "targets/search_targets.h"
#include "ui/fact_texts.h"
#include "ui/window/about_dlg.h"
#include "ui/window/duplicate_combo_box.h"
#include "ui/window/snapsift_dlg.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace snapsift::testing {
namespace {

// The window, whose duplicate names are chosen as the user chooses them.
struct Window : WindowUnderTest {
    // Chooses entry `index` of the duplicate names as the user does: the
    // list opens, then the entry is clicked.
    void ChooseDuplicate(int index)
    {
        emit dlg->m_duplicateCombo->aboutToShowPopup();
        emit dlg->m_duplicateCombo->activated(index);
        QCoreApplication::processEvents();
    }
};

// --- Every hostile tree through the window --------------------------------

// Every tree is built before the first case, so that the suite waits for a
// newer second once.
class HostileWindowTest : public ::testing::TestWithParam<HostileCase> {
public:
    static void SetUpTestSuite() { trees_ = std::make_unique<BuiltTrees>(CasesToRun(), SetUpIsolatedHome().desktop); }
    static void TearDownTestSuite() { trees_.reset(); }

protected:
    static inline std::unique_ptr<BuiltTrees> trees_;
};

TEST_P(HostileWindowTest, SearchAutoSelectAndDeleteWithTheButtons)
{
    const std::unique_ptr<BuiltTree> built = trees_->Take(GetParam().name);
    const HostileTree& t = built->tree;
    std::optional<WithoutPermissionOverride> asUser;
    if (const std::string why = WhyTreeCannotRun(t, asUser); !why.empty())
        GTEST_SKIP() << why;
    Window w;
    ASSERT_TRUE(w.ChooseDesktopFolder(GetParam().name));
    {
        const Watchdog watchdog(std::string("searching ") + GetParam().name, 300);
        w.dlg->m_searchButton->click();
    }
    const ResultView& view = w.dlg->Results();
    EXPECT_TRUE(w.messenger.shown.empty());
    EXPECT_EQ(RelativeRows(view.table, t.root), Sorted(t.rows));
    EXPECT_EQ(w.dlg->m_resultList->model()->rowCount(), view.table.RowCount());

    ASSERT_TRUE(w.dlg->m_autoSelectButton->isEnabled());
    w.dlg->m_autoSelectButton->click();
    EXPECT_EQ(Sorted(w.SelectedPaths()), Sorted(Absolute(t.root, t.autoSelected)));

    w.SelectPaths(Absolute(t.root, t.alsoDeleted));
    const DeletionCheck check(t, view.table, w.SelectedPaths(), w.LogPath(), Absolute(t.root, t.mayStay));
    w.messenger.shown.clear();
    {
        const Watchdog watchdog(std::string("deleting in ") + GetParam().name, 300);
        w.dlg->m_deleteButton->click();
    }
    check.Verify(view.table, w.messenger.shown);
    EXPECT_EQ(w.dlg->m_resultList->model()->rowCount(), view.list.GetItemCount());
}

INSTANTIATE_TEST_SUITE_P(Trees, HostileWindowTest, ::testing::ValuesIn(HostileCases()),
                         [](const ::testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

// --- A home reached through a link -----------------------------------------

// HOME is a link and the desktop is "$HOME/../Shared": the kernel and a
// textual reading of ".." lead to two different folders, the second holding
// a decoy of the same name and size. The confirmed file goes to the trash and
// the decoy stays. Another deletion holds the log meanwhile; a timer, which
// runs only while the window handles events, finishes it and lets go.
TEST(HostileLinkedHome, TheConfirmedFileGoesToTheTrashAndTheDecoyStays)
{
    const IsolatedHome& home = SetUpIsolatedHome();
    const std::string name = "linked_home";
    const std::string root = home.desktop + "/" + name;
    const std::string decoyPath = home.decoyDesktop + "/" + name + "/a.jpg";
    MakeFileAt(home.desktop, name + "/a.jpg", 8);
    MakeFileAt(home.decoyDesktop, name + "/a.jpg", 8);
    WaitForNewerSecond(root);
    MakeFileAt(home.desktop, name + "/sub/a.jpg", 8);
    const auto confirmed = IdOf(root + "/a.jpg");
    const auto decoy = IdOf(decoyPath);
    ASSERT_TRUE(confirmed && decoy);

    Window w;
    ASSERT_TRUE(w.ChooseDesktopFolder(name));
    w.dlg->m_searchButton->click();
    const ResultView& view = w.dlg->Results();
    EXPECT_EQ(Sorted(TablePaths(view.table)), Sorted({root + "/a.jpg", root + "/sub/a.jpg"}));
    w.dlg->m_autoSelectButton->click();
    ASSERT_EQ(w.SelectedPaths().size(), 1u);
    EXPECT_EQ(w.SelectedPaths(), std::vector<std::string>{root + "/a.jpg"});
    const std::string selected = w.SelectedPaths()[0];

    const std::string held = "## another deletion ##\r\n/elsewhere/x.jpg\r\n";
    int holder = open(w.LogPath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    QTimer::singleShot(0, [&holder, &held] {
        EXPECT_EQ(write(holder, held.data(), held.size()), static_cast<ssize_t>(held.size()));
        close(holder);
        holder = -1;
    });
    {
        const Watchdog watchdog("deleting through a linked home", 120);
        w.dlg->m_deleteButton->click();
    }
    EXPECT_EQ(holder, -1) << "the window did not handle events while it waited";
    if (holder >= 0)
        close(holder);

    EXPECT_FALSE(IdOf(root + "/a.jpg").has_value());
    EXPECT_TRUE(InTrash(*confirmed, {home.trashFiles}));
    EXPECT_EQ(IdOf(decoyPath), decoy);
    EXPECT_FALSE(InTrash(*decoy, {home.trashFiles}));
    EXPECT_TRUE(IdOf(root + "/sub/a.jpg").has_value());
    EXPECT_EQ(w.messenger.shown.size(), 1u) << w.messenger.shown.back().text;
    EXPECT_EQ(AppendedLogPaths(held, ReadLog(w.LogPath())), std::vector<std::string>{LogLine(selected)});
    RemoveTree(root);
    RemoveTree(home.decoyDesktop + "/" + name);
}

// --- Every button in every state ------------------------------------------

enum class State {
    Empty,
    NoDuplicates,
    Duplicates,
    NameChosen,
    AfterDeletion
};
enum class Button {
    Search,
    Clear,
    AutoSelect,
    Delete,
    Quit,
    Version
};

const char* StateName(State s)
{
    static const char* const names[] = {"Empty", "NoDuplicates", "Duplicates", "NameChosen", "AfterDeletion"};
    return names[static_cast<int>(s)];
}

const char* ButtonName(Button b)
{
    static const char* const names[] = {"Search", "Clear", "AutoSelect", "Delete", "Quit", "Version"};
    return names[static_cast<int>(b)];
}

QPushButton* ButtonOf(const CSnapsiftDlg& dlg, Button b)
{
    QPushButton* const buttons[] = {dlg.m_searchButton, dlg.m_clearButton, dlg.m_autoSelectButton,
                                    dlg.m_deleteButton, dlg.m_quitButton,  dlg.m_versionButton};
    return buttons[static_cast<int>(b)];
}

// Everything a button could change, as the window shows it.
struct Snapshot {
    std::vector<std::string> tablePaths;
    std::vector<int> listRows;
    std::vector<std::string> selected;
    std::vector<ComboEntry> comboEntries;
    int comboChoice = -1;
    std::string field;
    bool autoSelectOn = false, deleteOn = false, clearOn = false, visible = false;
    int modelRows = 0;
    friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

Snapshot Take(const Window& w)
{
    const ResultView& view = w.dlg->Results();
    Snapshot s;
    s.tablePaths = TablePaths(view.table);
    for (int j = 0; j < view.list.GetItemCount(); ++j)
        s.listRows.push_back(view.list.TableRow(j));
    s.selected = w.SelectedPaths();
    s.comboEntries = view.combo.Entries();
    s.comboChoice = view.combo.GetCurSel();
    s.field = w.dlg->m_duplicateCombo->lineEdit()->text().toStdString();
    s.autoSelectOn = w.dlg->m_autoSelectButton->isEnabled();
    s.deleteOn = w.dlg->m_deleteButton->isEnabled();
    s.clearOn = w.dlg->m_clearButton->isEnabled();
    s.visible = w.dlg->isVisible();
    s.modelRows = w.dlg->m_resultList->model()->rowCount();
    return s;
}

bool HasDuplicates(State s)
{
    return s == State::Duplicates || s == State::NameChosen || s == State::AfterDeletion;
}

using StateAndButton = std::tuple<State, Button>;

std::string FolderOf(State s, Button b)
{
    return std::string("state-") + StateName(s) + "-" + ButtonName(b);
}

// One folder per state and button, so that every case starts from a tree of
// its own: a name twice with an older copy, odd names, a FIFO and a broken link
// named like pictures. The older copies of all of them are made first, then
// one wait, then the newer ones.
class ButtonTest : public ::testing::TestWithParam<StateAndButton> {
public:
    static void SetUpTestSuite()
    {
        const std::string desktop = SetUpIsolatedHome().desktop;
        std::vector<std::string> dupFolders;
        for (State s : kStates) {
            for (Button b : kButtons) {
                const std::string root = desktop + "/" + FolderOf(s, b);
                mkdir(root.c_str(), 0755);
                MakeFileAt(root, "\x83\x65.jpg", 3);
                MakeFileAt(root, "new\nline.jpg", 4);
                mkfifo((root + "/fifo.jpg").c_str(), 0644);
                symlink("missing.jpg", (root + "/broken.jpg").c_str());
                if (HasDuplicates(s)) {
                    MakeFileAt(root, "a.jpg", 5);
                    dupFolders.push_back(root);
                }
            }
        }
        WaitForNewerSecond(desktop);
        for (const std::string& root : dupFolders) {
            MakeFileAt(root, "sub/a.jpg", 5);
            MakeFileAt(root, "sub/\x83\x65.jpg", 3);
        }
    }
    static void TearDownTestSuite()
    {
        for (State s : kStates) {
            for (Button b : kButtons)
                RemoveTree(SetUpIsolatedHome().desktop + "/" + FolderOf(s, b));
        }
    }

    static constexpr State kStates[] = {State::Empty, State::NoDuplicates, State::Duplicates, State::NameChosen,
                                        State::AfterDeletion};
    static constexpr Button kButtons[] = {Button::Search, Button::Clear, Button::AutoSelect,
                                          Button::Delete, Button::Quit,  Button::Version};
};

// Brings a fresh window into `state` with the folder `folder`.
void Enter(Window& w, State state, const std::string& folder)
{
    if (state == State::Empty)
        return;
    ASSERT_TRUE(w.ChooseDesktopFolder(folder));
    w.dlg->m_searchButton->click();
    if (state == State::NoDuplicates || state == State::Duplicates)
        return;
    w.ChooseDuplicate(1);
    const ResultView& view = w.dlg->Results();
    ASSERT_EQ(view.list.GetItemCount(), 2);
    if (state == State::NameChosen)
        return;
    w.dlg->m_autoSelectButton->click();
    ASSERT_EQ(w.SelectedPaths().size(), 1u);
    w.messenger.answers = {MessageAnswer::Ok};
    w.dlg->m_deleteButton->click();
    ASSERT_EQ(w.messenger.shown.size(), 1u);
    ASSERT_EQ(view.list.GetItemCount(), 1);
}

// Closes the About box once it is open and records that it was.
void CloseAboutBoxWhenOpen(bool& seen)
{
    auto* timer = new QTimer;
    auto waited = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, waited, &seen] {
        if (auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
            seen = true;
            about->m_okButton->click();
        } else if (++*waited < 500) {
            return;
        } else if (QWidget* other = QApplication::activeModalWidget()) {
            other->close();  // not the About box: fail, but do not hang
        }
        timer->deleteLater();
        timer->stop();
    });
    timer->start(10);
}

TEST_P(ButtonTest, DoesWhatItShouldAndNothingElse)
{
    const auto [state, button] = GetParam();
    const std::string folder = FolderOf(state, button);
    const std::string root = SetUpIsolatedHome().desktop + "/" + folder;
    Window w;
    Enter(w, state, folder);
    if (HasFatalFailure())
        return;
    w.messenger.shown.clear();
    w.messenger.answers.clear();

    QPushButton* pressed = ButtonOf(*w.dlg, button);
    const bool tableNotEmpty = state != State::Empty;
    const bool enabled = button == Button::Clear                                    ? tableNotEmpty
                         : button == Button::AutoSelect || button == Button::Delete ? HasDuplicates(state)
                                                                                    : true;
    EXPECT_EQ(pressed->isEnabled(), enabled);
    EXPECT_TRUE(pressed->isVisible());

    const Snapshot before = Take(w);
    const std::string logBefore = ReadLog(w.LogPath());
    bool aboutSeen = false;
    if (button == Button::Version)
        CloseAboutBoxWhenOpen(aboutSeen);
    {
        const Watchdog watchdog(std::string("pressing ") + ButtonName(button), 120);
        pressed->click();  // does nothing when the button is disabled
    }
    const Snapshot after = Take(w);
    const std::vector<MessageRequest>& shown = w.messenger.shown;
    EXPECT_TRUE(w.opened.empty());

    switch (button) {
    case Button::Search:
        if (state == State::Empty) {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].text, kChooseTargetText);
            EXPECT_EQ(after, before);
        } else {
            // The same rows as a search of the folder by the core.
            EXPECT_TRUE(shown.empty());
            ResultView core;
            NullProgress progress;
            SearchOptions jpeg;
            jpeg.m_bJpeg = true;
            ScanFolder(root, jpeg, core.table, progress);
            core.FillResultView();
            EXPECT_EQ(after.tablePaths, TablePaths(core.table));
            EXPECT_EQ(after.comboEntries, core.combo.Entries());
            EXPECT_TRUE(after.selected.empty());
            EXPECT_EQ(after.autoSelectOn, core.buttons.autoSelect);
            EXPECT_EQ(after.modelRows, core.table.RowCount());
        }
        break;
    case Button::Clear:
        EXPECT_TRUE(shown.empty());
        if (!enabled) {
            EXPECT_EQ(after, before);
        } else {
            EXPECT_TRUE(after.tablePaths.empty());
            EXPECT_TRUE(after.listRows.empty());
            EXPECT_TRUE(after.comboEntries.empty());
            EXPECT_TRUE(after.field.empty());
            EXPECT_FALSE(after.autoSelectOn || after.deleteOn || after.clearOn);
            EXPECT_EQ(after.modelRows, 0);
        }
        break;
    case Button::AutoSelect: {
        EXPECT_TRUE(shown.empty());
        Snapshot unchanged = after;
        unchanged.selected = before.selected;
        EXPECT_EQ(unchanged, before);
        std::vector<std::string> older;
        if (state == State::Duplicates)
            older = {root + "/\x83\x65.jpg", root + "/a.jpg"};
        else if (state == State::NameChosen)
            older = {root + "/a.jpg"};  // the name chosen; the copy of "a.jpg" below sub/ is newer
        EXPECT_EQ(Sorted(after.selected), Sorted(older));
        break;
    }
    case Button::Delete:
        EXPECT_EQ(after, before);
        if (enabled) {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].text, kNothingSelectedText);
            EXPECT_EQ(shown[0].caption, kConfirmCaption);
        } else {
            EXPECT_TRUE(shown.empty());
        }
        break;
    case Button::Quit: {
        EXPECT_TRUE(shown.empty());
        EXPECT_FALSE(after.visible);
        EXPECT_EQ(w.dlg->result(), QDialog::Rejected);
        Snapshot unchanged = after;
        unchanged.visible = before.visible;
        EXPECT_EQ(unchanged, before);
        break;
    }
    case Button::Version:
        EXPECT_TRUE(aboutSeen);
        EXPECT_TRUE(shown.empty());
        EXPECT_EQ(after, before);
        break;
    }
    EXPECT_EQ(ReadLog(w.LogPath()), logBefore);
    // Every file of the tree is still there but the one a deletion moved.
    EXPECT_TRUE(IdOf(root + "/sub/a.jpg").has_value() || !HasDuplicates(state));
    EXPECT_TRUE(IdOf(root + "/new\nline.jpg").has_value());
}

INSTANTIATE_TEST_SUITE_P(States, ButtonTest,
                         ::testing::Combine(::testing::ValuesIn(ButtonTest::kStates),
                                            ::testing::ValuesIn(ButtonTest::kButtons)),
                         [](const ::testing::TestParamInfo<StateAndButton>& info) {
                             return std::string(StateName(std::get<0>(info.param))) + "_" +
                                    ButtonName(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace snapsift::testing

int main(int argc, char** argv)
{
    return snapsift::testing::RunWindowTests(argc, argv);
}
