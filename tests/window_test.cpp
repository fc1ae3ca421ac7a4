// The main window, the About box and the Qt message box, run with the real
// widgets on the offscreen platform. The desktop folder, the trash and the
// deletion log live in a temporary tree made before anything reads them.
#include "delete/delete_selected.h"
#include "review/result_view.h"
#include "scan/folder_scan.h"
#include "support/temp_tree.h"
#include "targets/search_targets.h"
#include "ui/about_dlg.h"
#include "ui/duplicate_combo_box.h"
#include "ui/help_page.h"
#include "ui/qt_messenger.h"
#include "ui/snapsift_dlg.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace snapsift;
using snapsift::testing::ReadFile;
using snapsift::testing::RecordingMessenger;
using snapsift::testing::TempDir;
using snapsift::testing::WaitForNewerSecond;

// Qt texts in test failures.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

std::string g_desktop;  // the desktop folder GLib was pointed at
std::string g_trash;    // $XDG_DATA_HOME/Trash
std::string g_logPath;  // the window's deletion log

using Widgets = std::initializer_list<QWidget*>;

bool Exists(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::string BaseName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

QString Q(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// What a widget receives from a real double-click.
void DoubleClick(QWidget* widget, QPoint pos)
{
    QTest::mousePress(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
}

// Calls `handle` with the widget `find` returns, as soon as there is one. For
// code that blocks in a modal loop (exec) until the widget is closed.
void WhenOpen(std::function<QWidget*()> find, std::function<void(QWidget*)> handle)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, find, handle] {
        if (QWidget* widget = find()) {
            timer->stop();
            timer->deleteLater();
            handle(widget);
        }
    });
    timer->start();
}

void WhenModalOpens(std::function<void(QWidget*)> handle)
{
    WhenOpen([] { return QApplication::activeModalWidget(); }, std::move(handle));
}

// Checks an open About box, presses its support button, and closes it.
void CheckAndCloseAboutBox(QWidget* modal, const std::vector<std::string>& opened)
{
    auto* about = qobject_cast<CAboutDlg*>(modal);
    if (!about) {
        ADD_FAILURE() << "the modal window is not the About box";
        modal->close();
        return;
    }
    EXPECT_EQ(about->windowTitle(), Q("ﾊﾞｰｼﾞｮﾝ情報 Snapsift"));
    EXPECT_EQ(about->focusWidget(), about->m_okButton);
    const std::size_t before = opened.size();
    QTest::mouseClick(about->m_supportButton, Qt::LeftButton);
    EXPECT_EQ(opened.size(), before + 1);
    if (opened.size() == before + 1) {
        EXPECT_EQ(opened.back(), HelpPagePath());
    }
    EXPECT_TRUE(about->isVisible()) << "the support button must leave the box open";
    QTest::mouseClick(about->m_okButton, Qt::LeftButton);
}

class WindowTest : public ::testing::Test {
protected:
    void TearDown() override { dlg.reset(); }

    void Open()
    {
        dlg = std::make_unique<CSnapsiftDlg>(
            WindowServices{&messenger, [this](const std::string& path) { opened.push_back(path); }, g_logPath});
    }

    void Show()
    {
        dlg->show();
        // Generous limits: they end as soon as the window is there, and only
        // a window that never comes fails them, however busy the machine.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get(), 60000));
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get(), 60000));
    }

    QTreeWidgetItem* DesktopRoot() const { return dlg->m_folderTree->topLevelItem(1); }

    QTreeWidgetItem* DesktopChild(const std::string& name) const
    {
        QTreeWidgetItem* root = DesktopRoot();
        for (int i = 0; root && i < root->childCount(); ++i) {
            if (root->child(i)->text(0) == QString::fromStdString(name))
                return root->child(i);
        }
        return nullptr;
    }

    void Search(QTreeWidgetItem* item)
    {
        dlg->m_folderTree->setCurrentItem(item);
        QTest::mouseClick(dlg->m_searchButton, Qt::LeftButton);
    }

    QStringList Column(int column) const
    {
        QStringList texts;
        const QAbstractItemModel* model = dlg->m_resultList->model();
        for (int row = 0; row < model->rowCount(); ++row)
            texts << model->index(row, column).data().toString();
        return texts;
    }
    QStringList Names() const { return Column(0); }
    QStringList Paths() const { return Column(3); }

    QStringList ComboEntries() const
    {
        QStringList texts;
        for (int i = 0; i < dlg->m_duplicateCombo->count(); ++i)
            texts << dlg->m_duplicateCombo->itemText(i);
        return texts;
    }

    // The paths of the rows selected in the list view.
    QStringList SelectedPaths() const
    {
        QStringList texts;
        for (const QModelIndex& index : dlg->m_resultList->selectionModel()->selectedRows(3))
            texts << index.data().toString();
        return texts;
    }

    void ExpectResultButtons(bool enabled) const
    {
        EXPECT_EQ(dlg->m_autoSelectButton->isEnabled(), enabled);
        EXPECT_EQ(dlg->m_deleteButton->isEnabled(), enabled);
        EXPECT_EQ(dlg->m_clearButton->isEnabled(), enabled);
    }

    RecordingMessenger messenger;
    std::vector<std::string> opened;
    std::unique_ptr<CSnapsiftDlg> dlg;
};

TEST_F(WindowTest, StartsWithJpegTickedButtonsOffAndFocusInTheTree)
{
    Open();
    Show();
    EXPECT_EQ(dlg->windowTitle(), Q("Snapsift Ver1.0"));
    EXPECT_EQ(dlg->minimumSize(), dlg->maximumSize());
    EXPECT_EQ(dlg->size(), dlg->minimumSize());

    EXPECT_TRUE(dlg->m_checkJpeg->isChecked());
    EXPECT_FALSE(dlg->m_checkBmp->isChecked());
    EXPECT_FALSE(dlg->m_checkGif->isChecked());
    EXPECT_FALSE(dlg->m_checkOther->isChecked());
    EXPECT_TRUE(dlg->m_otherExt->text().isEmpty());
    EXPECT_FALSE(dlg->m_otherExt->isEnabled());
    ExpectResultButtons(false);
    EXPECT_EQ(dlg->m_resultList->model()->rowCount(), 0);
    EXPECT_EQ(dlg->m_duplicateCombo->count(), 0);
    EXPECT_EQ(QApplication::focusWidget(), dlg->m_folderTree);

    // All 22 controls exist; four of them are never shown.
    EXPECT_EQ(dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 22);
    const QList<QLabel*> labels = dlg->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels[0]->text(), Q("Snapsift Ver1.0"));
    EXPECT_EQ(dlg->m_underConstructionButton->text(), Q("その他..."));
    EXPECT_EQ(dlg->m_hiddenOkButton->text(), Q("Button6"));
    for (QWidget* hidden : Widgets{dlg->m_hiddenEdit, dlg->m_underConstructionButton, labels[0], dlg->m_hiddenOkButton})
        EXPECT_FALSE(hidden->isVisible());
    for (QWidget* shown : Widgets{dlg->m_folderTree, dlg->m_resultList, dlg->m_duplicateCombo, dlg->m_versionButton,
                                  dlg->m_progress, dlg->m_quitButton})
        EXPECT_TRUE(shown->isVisible());

    // The roots, then the desktop's own subfolders in name order.
    ASSERT_EQ(dlg->m_folderTree->topLevelItemCount(), 2);
    EXPECT_EQ(dlg->m_folderTree->topLevelItem(0)->text(0), Q("カレント"));
    EXPECT_EQ(DesktopRoot()->text(0), Q("デスクトップ"));
    ASSERT_EQ(DesktopRoot()->childCount(), 2);
    EXPECT_EQ(DesktopRoot()->child(0)->text(0), Q("albums"));
    EXPECT_EQ(DesktopRoot()->child(1)->text(0), Q("photos"));
}

TEST_F(WindowTest, EnterDoesNothingAndEscapeOrQuitCloses)
{
    Open();
    Show();
    QTest::keyClick(dlg->m_checkOther, Qt::Key_Space);  // enables the extension box
    ASSERT_TRUE(dlg->m_otherExt->isEnabled());
    // Were Enter to press the search button, "カレント" would be refused aloud.
    dlg->m_folderTree->setCurrentItem(dlg->m_folderTree->topLevelItem(0));
    for (QWidget* target : Widgets{dlg->m_folderTree, dlg->m_checkJpeg, dlg->m_otherExt, dlg->m_resultList}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_TRUE(dlg->isVisible()) << target->metaObject()->className();
    }
    EXPECT_TRUE(messenger.shown.empty());
    EXPECT_TRUE(dlg->m_checkJpeg->isChecked());

    QTest::keyClick(dlg->m_folderTree, Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);

    Open();
    Show();
    dlg->setResult(-1);
    QTest::mouseClick(dlg->m_quitButton, Qt::LeftButton);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);

    // Enter on a focused push button presses that button.
    Open();
    Show();
    dlg->setResult(-1);
    dlg->m_quitButton->setFocus();
    QTest::keyClick(dlg->m_quitButton, Qt::Key_Return);
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(WindowTest, ExtensionBoxTakesFourBytesAndFollowsItsCheckBox)
{
    Open();
    Show();
    QTest::keyClick(dlg->m_checkOther, Qt::Key_Space);
    EXPECT_TRUE(dlg->m_checkOther->isChecked());
    EXPECT_TRUE(dlg->m_otherExt->isEnabled());
    QTest::keyClicks(dlg->m_otherExt, "abcde");
    EXPECT_EQ(dlg->m_otherExt->text(), Q("abcd"));

    QTest::keyClick(dlg->m_checkOther, Qt::Key_Space);
    EXPECT_FALSE(dlg->m_otherExt->isEnabled());
    EXPECT_EQ(dlg->m_otherExt->text(), Q("abcd")) << "a disabled box keeps its text";
    EXPECT_FALSE(dlg->m_bOther);
    EXPECT_EQ(dlg->m_strOtherExt, "abcd");
    EXPECT_TRUE(messenger.shown.empty());

    // Text put there by code bypasses the typing limit; saving refuses it.
    dlg->m_otherExt->setText(Q("abcde"));
    EXPECT_FALSE(dlg->UpdateData(true));
    ASSERT_EQ(messenger.shown.size(), 1u);
    EXPECT_EQ(messenger.shown[0].text, "4 文字以内で入力してください。");
    EXPECT_EQ(messenger.shown[0].caption, "Snapsift");
    EXPECT_EQ(messenger.shown[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(messenger.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(dlg->m_strOtherExt, "abcd");
}

TEST_F(WindowTest, SearchPreconditionsAreReported)
{
    Open();
    dlg->m_folderTree->clearSelection();
    QTest::mouseClick(dlg->m_searchButton, Qt::LeftButton);
    Search(dlg->m_folderTree->topLevelItem(0));  // "カレント"
    QTest::keyClick(dlg->m_checkJpeg, Qt::Key_Space);
    Search(DesktopChild("albums"));
    QTest::keyClick(dlg->m_checkOther, Qt::Key_Space);
    Search(DesktopChild("albums"));

    ASSERT_EQ(messenger.shown.size(), 4u);
    EXPECT_EQ(messenger.shown[0].text, kChooseTargetText);
    EXPECT_EQ(messenger.shown[1].text, kNotATargetText);
    EXPECT_EQ(messenger.shown[2].text, "検索したいファイル形式を選択してください");
    EXPECT_EQ(messenger.shown[3].text, kNeedOtherExtensionText);
    for (const MessageRequest& shown : messenger.shown) {
        EXPECT_EQ(shown.caption, "情報");
        EXPECT_EQ(shown.icon, MessageIcon::Information);
    }
    ExpectResultButtons(false);
}

TEST_F(WindowTest, SearchChooseAutoSelectDeleteShowAllAndClear)
{
    // Two copies of dup.jpg of one size, the second made later; pair.jpg
    // twice with different sizes; a name that is not UTF-8.
    TempDir flow(g_desktop);
    const std::string older = flow.MakeFile("a/dup.jpg", 100);
    flow.MakeFile("a/pair.jpg", 10);
    flow.MakeFile("b/pair.jpg", 20);
    flow.MakeFile("solo.jpg", 5);
    flow.MakeFile("notes.txt", 5);
    const std::string odd = flow.MakeFile("b/\x82\xa0.jpg", 1);
    WaitForNewerSecond(flow.Path());
    const std::string newer = flow.MakeFile("b/dup.jpg", 100);
    unlink(g_logPath.c_str());

    Open();
    Show();
    QTreeWidgetItem* target = DesktopChild(BaseName(flow.Path()));
    ASSERT_NE(target, nullptr);
    Search(target);
    EXPECT_TRUE(messenger.shown.empty());
    ASSERT_EQ(Names().size(), 6);
    EXPECT_EQ(Names().mid(0, 5), (QStringList{"dup.jpg", "dup.jpg", "pair.jpg", "pair.jpg", "solo.jpg"}));
    EXPECT_EQ(ComboEntries(), (QStringList{Q(kPromptText), "dup.jpg", "pair.jpg"}));
    EXPECT_EQ(dlg->m_duplicateCombo->currentIndex(), 0);
    EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q(kPromptText));
    ExpectResultButtons(true);

    // The double-click opens the focused row's file by its own bytes.
    int oddRow = -1;
    for (int row = 0; row < Paths().size(); ++row) {
        if (Paths()[row].contains(QChar(QChar::ReplacementCharacter)))
            oddRow = row;
    }
    ASSERT_GE(oddRow, 0);
    const QModelIndex oddIndex = dlg->m_resultList->model()->index(oddRow, 0);
    dlg->m_resultList->scrollTo(oddIndex);
    DoubleClick(dlg->m_resultList->viewport(), dlg->m_resultList->visualRect(oddIndex).center());
    EXPECT_EQ(opened, std::vector<std::string>{odd});

    // Down on the closed combo chooses the first name, as a user would.
    dlg->m_duplicateCombo->setFocus();
    QTest::keyClick(dlg->m_duplicateCombo, Qt::Key_Down);
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q("dup.jpg"));
    QStringList chosen = Paths();
    chosen.sort();
    EXPECT_EQ(chosen, (QStringList{QString::fromStdString(older), QString::fromStdString(newer)}));
    EXPECT_EQ(Names(), (QStringList{"dup.jpg", "dup.jpg"}));

    // Only the older of the two equal copies is picked.
    QTest::mouseClick(dlg->m_autoSelectButton, Qt::LeftButton);
    EXPECT_EQ(SelectedPaths(), QStringList{QString::fromStdString(older)});

    QTest::mouseClick(dlg->m_deleteButton, Qt::LeftButton);
    ASSERT_EQ(messenger.shown.size(), 1u);
    EXPECT_EQ(messenger.shown[0].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(messenger.shown[0].text, older + "\n" + kConfirmQuestionText);
    EXPECT_FALSE(Exists(older));
    EXPECT_TRUE(Exists(newer));
    EXPECT_TRUE(Exists(g_trash + "/files/dup.jpg"));
    EXPECT_TRUE(Exists(g_trash + "/info/dup.jpg.trashinfo"));
    const std::string log = ReadFile(g_logPath);
    const std::string heading = "## このファイルは不必要ならば削除しても構いません ##\r\n";
    EXPECT_EQ(log.compare(0, heading.size(), heading), 0) << log;
    EXPECT_NE(log.find("\r\n" + older + "\r\n"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\r'), 3) << "every line ends with CR LF";
    EXPECT_EQ(log.back(), '\n');

    // The list shows what is left of the chosen name.
    EXPECT_EQ(Paths(), QStringList{QString::fromStdString(newer)});
    EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q("dup.jpg"));
    ExpectResultButtons(true);

    // Opening the list offers "すべて表示" in the prompt's place; the chosen
    // name stays chosen. Choosing "すべて表示" brings every row back.
    dlg->m_duplicateCombo->showPopup();
    QCoreApplication::processEvents();
    EXPECT_EQ(ComboEntries(), (QStringList{Q(kShowAllText), "dup.jpg", "pair.jpg"}));
    EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q("dup.jpg"));
    QAbstractItemView* popup = dlg->m_duplicateCombo->view();
    popup->setCurrentIndex(popup->model()->index(0, 0));
    QTest::keyClick(popup, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(Names().mid(0, 4), (QStringList{"dup.jpg", "pair.jpg", "pair.jpg", "solo.jpg"}));
    EXPECT_EQ(Names().size(), 5);
    EXPECT_EQ(ComboEntries(), (QStringList{Q(kPromptText), "pair.jpg"}));
    EXPECT_EQ(dlg->m_duplicateCombo->currentIndex(), 0);
    EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q(kPromptText));

    QTest::mouseClick(dlg->m_clearButton, Qt::LeftButton);
    EXPECT_EQ(dlg->m_resultList->model()->rowCount(), 0);
    EXPECT_EQ(dlg->m_duplicateCombo->count(), 0);
    EXPECT_TRUE(dlg->m_duplicateCombo->currentText().isEmpty());
    ExpectResultButtons(false);
}

TEST_F(WindowTest, ComboFieldKeepsItsTextWithoutASelectedEntry)
{
    TempDir distinct(g_desktop);
    distinct.MakeFile("x.jpg");
    distinct.MakeFile("y.jpg");
    TempDir twice(g_desktop);
    twice.MakeFile("a/also.jpg");
    twice.MakeFile("b/also.jpg");
    twice.MakeFile("a/same.jpg");
    twice.MakeFile("b/same.jpg");
    Open();

    Search(DesktopChild(BaseName(distinct.Path())));
    EXPECT_EQ(Names(), (QStringList{"x.jpg", "y.jpg"}));
    EXPECT_EQ(dlg->m_duplicateCombo->count(), 0);
    EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q(kNoDuplicatesText));
    EXPECT_TRUE(dlg->m_clearButton->isEnabled());
    EXPECT_FALSE(dlg->m_autoSelectButton->isEnabled());
    EXPECT_FALSE(dlg->m_deleteButton->isEnabled());

    Show();
    Search(DesktopChild(BaseName(twice.Path())));
    for (int opening = 0; opening < 2; ++opening) {
        dlg->m_duplicateCombo->showPopup();
        QCoreApplication::processEvents();
        EXPECT_EQ(ComboEntries(), (QStringList{Q(kShowAllText), "also.jpg", "same.jpg"}));
        EXPECT_EQ(dlg->m_duplicateCombo->currentIndex(), -1);
        EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q(kPromptText));
        dlg->m_duplicateCombo->hidePopup();
        QCoreApplication::processEvents();
    }
    const QStringList all{"also.jpg", "also.jpg", "same.jpg", "same.jpg"};
    EXPECT_EQ(Names(), all) << "opening the list changes no row";

    // A name typed into the field chooses nothing.
    dlg->m_duplicateCombo->lineEdit()->clear();
    QTest::keyClicks(dlg->m_duplicateCombo, "same.jpg");
    QTest::keyClick(dlg->m_duplicateCombo, Qt::Key_Return);
    dlg->m_resultList->setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->m_duplicateCombo->currentIndex(), -1);
    EXPECT_EQ(Names(), all);
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(WindowTest, DoubleClickOnAFolderListsItsSubfoldersUnderIt)
{
    Open();
    Show();
    QTreeWidget* tree = dlg->m_folderTree;
    auto doubleClick = [tree](QTreeWidgetItem* item) {
        tree->scrollToItem(item);
        DoubleClick(tree->viewport(), tree->visualItemRect(item).center());
    };
    doubleClick(DesktopRoot());
    EXPECT_TRUE(DesktopRoot()->isExpanded());
    EXPECT_EQ(DesktopRoot()->childCount(), 2);

    QTreeWidgetItem* photos = DesktopChild("photos");
    ASSERT_NE(photos, nullptr);
    ASSERT_EQ(photos->childCount(), 0);
    doubleClick(photos);
    ASSERT_EQ(photos->childCount(), 2);
    EXPECT_EQ(photos->child(0)->text(0), Q("2023"));
    EXPECT_EQ(photos->child(1)->text(0), Q("2024"));
    EXPECT_TRUE(photos->isExpanded());

    doubleClick(photos);  // listed once only
    EXPECT_EQ(photos->childCount(), 2);
    EXPECT_TRUE(messenger.shown.empty());
}

TEST_F(WindowTest, AboutBoxFromTheVersionButtonAndTheContextMenu)
{
    Open();
    Show();
    WhenModalOpens([this](QWidget* modal) { CheckAndCloseAboutBox(modal, opened); });
    QTest::mouseClick(dlg->m_versionButton, Qt::LeftButton);
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // A right-click on a free area of the window; A is the entry's access key.
    bool menuSeen = false;
    WhenOpen([] { return QApplication::activePopupWidget(); },
             [this, &menuSeen](QWidget* popup) {
                 auto* menu = qobject_cast<QMenu*>(popup);
                 if (!menu) {
                     popup->close();
                     return;
                 }
                 menuSeen = true;
                 EXPECT_EQ(menu->actions().size(), 1);
                 EXPECT_EQ(menu->actions().value(0)->text(), Q(kAboutMenuText));
                 WhenModalOpens([this](QWidget* modal) { CheckAndCloseAboutBox(modal, opened); });
                 QTest::keyClick(menu, Qt::Key_A);
             });
    QTest::mouseClick(dlg->windowHandle(), Qt::RightButton, {}, QPoint(2, 2));
    EXPECT_TRUE(QTest::qWaitFor([&] { return menuSeen && opened.size() == 2u; }, 60000));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(WindowTest, F1OpensTheHelpPage)
{
    Open();
    Show();
    QTest::keyClick(dlg.get(), Qt::Key_F1);
    EXPECT_EQ(opened, std::vector<std::string>{HelpPagePath()});
}

TEST(QtMessengerTest, CancelAnswersCancel)
{
    QWidget owner;
    QtMessenger messenger(&owner);
    QString title;
    QString text;
    WhenModalOpens([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            modal->close();
            return;
        }
        title = box->windowTitle();
        text = box->text();
        box->button(QMessageBox::Cancel)->click();
    });
    const MessageAnswer answer =
        messenger.Show({"ごみ箱に移動しますか", "確認", MessageButtons::OkCancel, MessageIcon::None});
    EXPECT_EQ(answer, MessageAnswer::Cancel);
    EXPECT_EQ(title, Q("確認"));
    EXPECT_EQ(text, Q("ごみ箱に移動しますか"));
}

} // namespace

// GLib reads the desktop folder and the trash location once per process, so
// the temporary ones are set up before anything else runs.
int main(int argc, char** argv)
{
    const TempDir root;
    g_desktop = root.MakeFolder("desktop");
    root.MakeFolder("desktop/albums");
    root.MakeFolder("desktop/photos/2023");
    root.MakeFolder("desktop/photos/2024");
    root.WriteFile("config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"" + g_desktop + "\"\n");
    snapsift::testing::SetEnv("HOME", root.MakeFolder("home"));
    snapsift::testing::SetEnv("XDG_CONFIG_HOME", root / "config");
    snapsift::testing::SetEnv("XDG_DATA_HOME", root.MakeFolder("data"));
    g_trash = root / "data/Trash";
    g_logPath = root / "DeleteLog.log";

    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
