// SPDX-License-Identifier: MIT
#pragma once

// The main window as the tests of hostile trees, protected folders, the field
// and the previews under load drive it: offscreen, with recording stand-ins.

#include "support/temp_tree.h"
#include "ui/window/snapsift_dlg.h"

#include <memory>
#include <string>
#include <vector>

class QTreeWidgetItem;

namespace snapsift::testing {

// The window, shown, with a recording message box, a file opener that only
// records what it was asked to open, and its deletion log in a folder of its own.
struct WindowUnderTest {
    WindowUnderTest();

    RecordingMessenger messenger;
    std::vector<std::string> opened;
    TempDir logFolder;
    std::unique_ptr<CSnapsiftDlg> dlg;

    std::string LogPath() const { return logFolder / "DeleteLog.log"; }
    // The desktop's subfolder `name` in the tree, or null.
    QTreeWidgetItem* DesktopChild(const std::string& name) const;
    // Makes the desktop's subfolder `name` the tree's current folder; false
    // when the tree has no such folder.
    bool ChooseDesktopFolder(const std::string& name);
    // The paths of the rows selected in the list, in list order.
    std::vector<std::string> SelectedPaths() const;
    // Adds the rows of `paths` to the list's selection.
    void SelectPaths(const std::vector<std::string>& paths);
};

// The main() of a test program with windows: the preview helper when started
// as one; else the hostile process's set-up, the offscreen platform unless
// QT_QPA_PLATFORM names another, the application, `beforeTests` (when given)
// and every test.
int RunWindowTests(int argc, char** argv, void (*beforeTests)() = nullptr);

}  // namespace snapsift::testing
