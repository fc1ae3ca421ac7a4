// SPDX-License-Identifier: MIT
// The field through the window, offscreen: each disk of the field is mounted
// as a folder of the desktop, searched with the search button, its card's
// pictures deleted with the delete button and brought back with the window's
// undo.
#include "field_disks.h"
#include "hostile_trees.h"
#include "review/result_view.h"
#include "support/temp_tree.h"
#include "support/window_under_test.h"
#include "ui/fact_texts.h"
#include "ui/window/snapsift_dlg.h"

#include <gtest/gtest.h>

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

    WindowUnderTest w;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "first deletion" : "second deletion");
        ASSERT_TRUE(w.ChooseDesktopFolder(name));
        w.dlg->m_searchButton->click();
        ASSERT_TRUE(w.dlg->m_deleteButton->isEnabled());
        w.dlg->m_resultList->selectionModel()->clearSelection();
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
    return snapsift::testing::RunWindowTests(argc, argv);
}
