// SPDX-License-Identifier: MIT
// The field through the window, offscreen: each disk of the field is mounted
// as a folder of the desktop, searched with the search button, its card's
// pictures deleted with the delete button and brought back with the window's
// undo.
#include "field_disks.h"
#include "hostile_trees.h"
#include "review/result_view.h"
#include "support/temp_tree.h"
#include "ui/fact_texts.h"
#include "ui/preview/preview_helper.h"
#include "ui/window/snapsift_dlg.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace snapsift::testing {
namespace {

struct FieldWindow {
    RecordingMessenger messenger;
    TempDir logFolder;
    std::unique_ptr<CSnapsiftDlg> dlg;

    FieldWindow()
    {
        WindowServices services;
        services.messenger = &messenger;
        services.openFile = [](const std::string&) {};
        services.deletionLogPath = logFolder / "DeleteLog.log";
        dlg = std::make_unique<CSnapsiftDlg>(services);
        dlg->show();
    }

    bool ChooseDesktopFolder(const std::string& name)
    {
        for (int i = 0; i < dlg->m_folderTree->topLevelItemCount(); ++i) {
            QTreeWidgetItem* root = dlg->m_folderTree->topLevelItem(i);
            if (root->text(0) != QString::fromUtf8(kDesktopText))
                continue;
            for (int c = 0; c < root->childCount(); ++c) {
                if (root->child(c)->text(0) == QString::fromUtf8(name.c_str())) {
                    dlg->m_folderTree->setCurrentItem(root->child(c));
                    return true;
                }
            }
        }
        return false;
    }

    void SelectPaths(const std::vector<std::string>& paths)
    {
        const ResultView& view = dlg->Results();
        QAbstractItemModel* model = dlg->m_resultList->model();
        dlg->m_resultList->selectionModel()->clearSelection();
        for (int j = 0; j < view.list.GetItemCount(); ++j) {
            if (std::find(paths.begin(), paths.end(), view.table.Path(view.list.TableRow(j))) != paths.end())
                dlg->m_resultList->selectionModel()->select(model->index(j, 0),
                                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
};

class FieldWindowTest : public ::testing::TestWithParam<FieldSetUp> { };

TEST_P(FieldWindowTest, DeleteButtonAndUndoBringTheCardBack)
{
    const std::string name = std::string("card_") + GetParam().name;
    FieldDisk disk(GetParam(), SetUpIsolatedHome().desktop + "/" + name);
    if (!disk.skip.empty())
        GTEST_SKIP() << disk.skip;
    std::map<std::string, std::string> content;
    std::vector<std::string> deleted;
    for (const char* folder : {"/DCIM/101CANON/", "/DCIM/100CANON/"}) {
        for (const char* file : {"IMG_0001.JPG", "IMG_0002.JPG"}) {
            const std::string path = disk.top + folder + file;
            content[path] = "picture at " + path;
            WriteFileMakingFolders(path, content[path]);
            if (std::string(folder) == "/DCIM/100CANON/")
                deleted.push_back(path);
        }
    }

    FieldWindow w;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first deletion" : "second deletion");
        ASSERT_TRUE(w.ChooseDesktopFolder(name));
        w.dlg->m_searchButton->click();
        ASSERT_TRUE(w.dlg->m_deleteButton->isEnabled());
        w.SelectPaths(deleted);
        w.messenger.shown.clear();
        w.dlg->m_deleteButton->click();
        ASSERT_EQ(w.messenger.shown.size(), 1u) << w.messenger.shown.back().text;  // the confirmation alone
        for (const std::string& path : deleted)
            EXPECT_FALSE(Exists(path)) << path;
        ASSERT_TRUE(w.dlg->CanRestoreLast());

        w.messenger.shown.clear();
        w.dlg->OnRestoreLast();
        ASSERT_EQ(w.messenger.shown.size(), 2u);
        EXPECT_EQ(w.messenger.shown[1].text, "2 個のファイルを元の場所に戻しました。");
        for (const auto& [path, text] : content)
            EXPECT_EQ(ReadFile(path), text) << path;
        EXPECT_FALSE(Exists(disk.trash + "/info/IMG_0001.JPG.trashinfo"));
    }
}

INSTANTIATE_TEST_SUITE_P(Disks, FieldWindowTest, ::testing::ValuesIn(FieldSetUps()),
                         [](const ::testing::TestParamInfo<FieldSetUp>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace snapsift::testing

int main(int argc, char** argv)
{
    // The window's preview helpers are this program started again.
    if (snapsift::IsPreviewHelperCall(argc, argv))
        return snapsift::RunPreviewHelper();
    snapsift::testing::SetUpHostileProcess();
    if (!std::getenv("QT_QPA_PLATFORM"))
        snapsift::testing::SetEnv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
