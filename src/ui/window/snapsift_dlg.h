// SPDX-License-Identifier: MIT
#pragma once

#include "delete/restore_last.h"
#include "platform/shell.h"
#include "review/content_check.h"
#include "review/protection.h"
#include "review/result_view.h"
#include "scan/folder_scan.h"
#include "targets/search_targets.h"
#include "ui/window_texts.h"
#include "ui/window/window_geometry.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>
#include <string>

class QCheckBox;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace snapsift {

class BusyWindow;
class DialogUnits;
class DuplicateComboBox;
class Messenger;
enum class MessageAnswer;
class QtProgress;
class ResultModel;
class ResultPreviews;

// Where the window reaches beyond itself. The defaults are the real ones;
// tests replace what cannot run in them.
struct WindowServices {
    Messenger* messenger = nullptr;  // null: Qt message boxes owned by the window
    std::function<void(const std::string& path)> openFile;  // null: the desktop's default program
    std::string deletionLogPath = "DeleteLog.log";
    QString fontFamily;  // empty: the usual Japanese Gothic face
    // Opens the help page; null: the desktop's default program.
    std::function<ShellResult(const std::string& path)> openHelp;
    // A look at a drive's mount point; null: a stat of it.
    std::function<MountPointLook(const std::string& mountPoint)> lookAtMountPoint = nullptr;
    // The subfolders of a tree node's folder; null: the real listing.
    std::function<std::vector<std::string>(const std::string& path, bool followLastLink)> listSubfolders = nullptr;
};

// The main window: the target tree and type options at the left, the results
// at the right. It turns clicks into core commands and their outcomes into what it shows.
class CSnapsiftDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CSnapsiftDlg(WindowServices services = {}, QWidget* parent = nullptr);
    ~CSnapsiftDlg() override;

    // Copies the controls into the option members (save) or the members into
    // the controls. Saving refuses an extension longer than its limit.
    bool UpdateData(bool save);

    // The command handlers, as the buttons, the tree, the list and the combo
    // box run them.
    void OnSearch();
    void OnAutoSelect();
    void OnDeleteSelected();
    void OnClear();
    void OnTreeDblClk();
    void OnTreeItemExpanded(QTreeWidgetItem* item);
    void OnResultDblClk();
    void OnOtherExtToggle();
    void OnVersion();
    void OnDuplicateChosen(int index);
    void OnDuplicateDropDown();
    void OnHelp();
    // Puts the files of the last logged deletion back, after a confirmation.
    void OnRestoreLast();
    // Whether a deletion in this window has moved a file, which enables OnRestoreLast.
    bool CanRestoreLast() const { return lastDeletion_.has_value(); }

    // For tests and the benchmark.
    const ResultView& Results() const { return m_view; }
    const SearchTargets& Targets() const { return m_targets; }
    const std::string& SearchedFolder() const { return searchedFolder_; }
    QTreeWidgetItem* TreeItemOfNode(int node) const;
    ResultPreviews& Previews() const { return *previews_; }
    ContentChecker& Checker() { return contentChecker_; }
    const ProtectedFolders& Protection() const { return protection_; }

    // Protects the folder of tree node `node`, or ends its protection, and
    // remembers the protected folders for the next start.
    void OnToggleProtection(int node);

    // The search options, as the data exchange fills them.
    SearchOptions m_options;

    static constexpr int kOtherExtLimit = 4;

    // The size the window opens at when it remembers none, and its smallest.
    QSize BaseSize() const { return baseSize_; }

protected:
    void accept() override;  // Enter does nothing
    void done(int result) override;  // remembers the window's size and columns
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The window's construction (snapsift_dlg_layout.cpp).
    void CreateControls();
    void CreateTargetControls(const DialogUnits& du);
    void CreateResultControls(const DialogUnits& du);
    void CreateResultList();
    void CreateFrames(const DialogUnits& du);
    void SetTabOrder();
    void ConnectControls();
    void SetResultColumnWidths(const std::vector<int>& remembered);
    void FitValueColumns();
    int SizeColumnNeed() const;
    int DateColumnNeed() const;
    void RestoreWindow();
    void OnInitDialog();
    void AddTreeItems(const std::vector<int>& nodes);
    void ListTreeItem(QTreeWidgetItem* item);
    // Disks that may not answer (snapsift_dlg_targets.cpp).
    void BuildTargets();
    void OnDriveAnswered(const std::string& mountPoint, MountPointLook found);
    void OnListingAnswered(int node, const std::vector<std::string>& names);
    void AddListedItems(int node, const std::vector<std::string>& names);
    void ShowNodeText(int node);
    std::vector<int> AnsweringNodes(const std::vector<int>& nodes) const;
    void PullSelection();
    void PushSelection();
    void MirrorResults();
    std::vector<int> ListedTableRows() const;
    void ShowAboutBox();
    // Protected folders (snapsift_dlg_protection.cpp).
    void LoadProtection();
    void SaveProtection() const;
    void ShowProtection(const std::vector<int>& nodes);
    std::string NodeFolder(int node) const;
    void AddTreeEntries(QMenu& menu, QPoint globalPos);
    // `busy`, when given, takes Esc (stop the search) and the quit button and
    // close box (end the program) while the search runs.
    void RunSearch(const std::string& target, const SearchOptions& options, BusyWindow* busy = nullptr);
    bool LiesBelowSearchTarget(const std::string& path) const;
    void SearchAgainKeepingChoice();
    // A message box with the search's caption and icon.
    void ShowInformation(const std::string& text);
    // A message box with the deletion's caption, OK alone or OK and Cancel.
    MessageAnswer ShowConfirm(const std::string& text, bool withCancel);

    ResultView m_view;
    SearchTargets m_targets;
    QSize baseSize_;
    EdgeLayout edges_;
    WindowServices services_;
    std::unique_ptr<Messenger> ownMessenger_;
    Messenger* messenger_ = nullptr;
    std::unique_ptr<QtProgress> progressDriver_;
    ResultModel* resultModel_ = nullptr;
    ResultPreviews* previews_ = nullptr;  // picture tooltip and side-by-side window
    std::vector<QTreeWidgetItem*> treeItems_;  // by node index
    std::set<int> listingLate_;  // nodes whose listing did not answer in time and goes on
    // The window's own last deletion that moved files: the undo puts back
    // exactly these, while its block is still the last one of its log.
    struct LastDeletion {
        std::string logPath;
        std::int64_t startTime = 0;
        std::vector<std::string> loggedPaths;
        std::vector<TrashedFile> files;
    };
    std::optional<LastDeletion> lastDeletion_;
    ContentChecker contentChecker_;  // remembers what it compared while the window lives
    ProtectedFolders protection_;
    // The search the results come from; empty target when there are none.
    std::string searchTarget_;
    SearchOptions searchOptions_;
    // The folder that search searched, as the scan resolved the target: every
    // row's path begins with it. Empty when there are no results.
    std::string searchedFolder_;

public:
    // The controls, in the window's order.
    QPushButton* m_versionButton = nullptr;
    QTreeWidget* m_folderTree = nullptr;
    QCheckBox* m_checkJpeg = nullptr;
    QCheckBox* m_checkBmp = nullptr;
    QCheckBox* m_checkGif = nullptr;
    QCheckBox* m_checkOther = nullptr;
    QLineEdit* m_otherExt = nullptr;
    QPushButton* m_searchButton = nullptr;
    DuplicateComboBox* m_duplicateCombo = nullptr;
    QPushButton* m_autoSelectButton = nullptr;
    QTreeView* m_resultList = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QPushButton* m_quitButton = nullptr;
    QPushButton* m_clearButton = nullptr;
    QProgressBar* m_progress = nullptr;
};

// Ends the process once the window has closed: what it holds (the rows, the
// previews' threads, a search left running on a slow disk) goes with the
// process at once, neither freed piece by piece nor waited for.
[[noreturn]] void EndProgram(int status);

} // namespace snapsift
