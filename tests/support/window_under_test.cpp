// SPDX-License-Identifier: MIT
#include "support/window_under_test.h"

#include "hostile_trees.h"
#include "review/result_view.h"
#include "ui/fact_texts.h"
#include "ui/preview/preview_helper.h"

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QItemSelectionModel>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <cstdlib>

namespace snapsift::testing {

WindowUnderTest::WindowUnderTest()
{
    WindowServices services;
    services.messenger = &messenger;
    services.openFile = [this](const std::string& path) { opened.push_back(path); };
    services.deletionLogPath = LogPath();
    dlg = std::make_unique<CSnapsiftDlg>(services);
    dlg->show();
}

QTreeWidgetItem* WindowUnderTest::DesktopChild(const std::string& name) const
{
    for (int i = 0; i < dlg->m_folderTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* root = dlg->m_folderTree->topLevelItem(i);
        if (root->text(0) != QString::fromUtf8(kDesktopText))
            continue;
        for (int c = 0; c < root->childCount(); ++c) {
            if (root->child(c)->text(0) == QString::fromUtf8(name.c_str()))
                return root->child(c);
        }
    }
    return nullptr;
}

bool WindowUnderTest::ChooseDesktopFolder(const std::string& name)
{
    QTreeWidgetItem* folder = DesktopChild(name);
    if (folder)
        dlg->m_folderTree->setCurrentItem(folder);
    return folder != nullptr;
}

std::vector<std::string> WindowUnderTest::SelectedPaths() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : dlg->m_resultList->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> paths;
    const ResultView& view = dlg->Results();
    for (int row : rows)
        paths.push_back(view.table.Path(view.list.TableRow(row)));
    return paths;
}

void WindowUnderTest::SelectPaths(const std::vector<std::string>& paths)
{
    const ResultView& view = dlg->Results();
    QAbstractItemModel* model = dlg->m_resultList->model();
    for (int j = 0; j < view.list.GetItemCount(); ++j) {
        if (std::find(paths.begin(), paths.end(), view.table.Path(view.list.TableRow(j))) != paths.end())
            dlg->m_resultList->selectionModel()->select(model->index(j, 0),
                                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

int RunWindowTests(int argc, char** argv, void (*beforeTests)())
{
    // The window's preview helpers are this program started again.
    if (IsPreviewHelperCall(argc, argv))
        return RunPreviewHelper();
    SetUpHostileProcess();
    if (!std::getenv("QT_QPA_PLATFORM"))
        SetEnv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (beforeTests)
        beforeTests();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

}  // namespace snapsift::testing
