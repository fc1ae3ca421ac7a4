// SPDX-License-Identifier: MIT
#pragma once

#include "delete/deletion_log.h"
#include "delete/restore_last.h"
#include "platform/user_desktop.h"
#include "review/content_check.h"
#include "review/protection.h"
#include "review/result_view.h"
#include "scan/folder_scan.h"
#include "targets/search_targets.h"
#include "ui/delete_conversation.h"
#include "ui/window/window_geometry.h"
#include "ui/window_texts.h"

#include <QDialog>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace snapsift {

class BesideWindow;
class BusyWindow;
class DialogUnits;
class DuplicateComboBox;
class FileOpener;
class Messenger;
enum class MessageAnswer;
class QtProgress;
class ResultModel;
class ResultPreviews;

// Where the window reaches beyond itself. The defaults are the real ones;
// tests replace what cannot run in them.
struct WindowServices {
    Messenger* messenger = nullptr;                         // null: Qt message boxes owned by the window
    std::function<void(const std::string& path)> openFile;  // null: the desktop's default program
    std::string deletionLogPath = "DeleteLog.log";
    QString fontFamily;  // empty: the usual Japanese Gothic face
    // Opens the help page; null: the desktop's default program.
    std::function<ShellResult(const std::string& path)> openHelp;
    // How the desktop's default program is started when openFile is null,
    // beside the window; null: the real one.
    std::function<ShellResult(const std::string& path)> launchFile;
    // A look at a drive's mount point; null: a stat of it.
    std::function<MountPointLook(const std::string& mountPoint)> lookAtMountPoint = nullptr;
    // The subfolders of a tree node's folder; null: the real listing.
    std::function<std::vector<std::string>(const std::string& path, bool followLastLink)> listSubfolders = nullptr;
    // Run around each file a deletion moves (tests hold a move with them).
    TrashHooks deletionHooks = {};
    // How long a deletion waits for another program's lock on the log.
    std::chrono::milliseconds logPatience = kLogLockPatience;
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
    // Opens the window listing the recorded deletions, from which they or their
    // files can be put back; the list shows the restored files again.
    void OnHistory();
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

    // Opens the dialog of further picture types; what is chosen there is
    // searched from the next search on and remembered.
    void OnChoosePictureTypes();

    // Protects the folder of tree node `node`, or ends its protection, and
    // remembers the protected folders for the next start.
    void OnToggleProtection(int node);

    // The search options, as the data exchange fills them.
    SearchOptions m_options;

    static constexpr int kOtherExtLimit = 4;
    static constexpr int kFrameSettleMs = 200;

    // The size the window opens at when it remembers none, and its smallest.
    QSize BaseSize() const { return baseSize_; }

protected:
    void accept() override;          // Enter does nothing
    void done(int result) override;  // remembers the window's size and columns
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;  // a restored frame is fitted onto its screen

private:
    // The window's construction (snapsift_dlg_layout.cpp).
    void CreateControls();
    void CreateTargetControls(const DialogUnits& du);
    void CreateResultControls(const DialogUnits& du);
    void CreateResultList();
    void CreateFrames(const DialogUnits& du);
    void SetTabOrder();
    void ConnectControls();
    // The result list's columns (snapsift_dlg_columns.cpp).
    void SetResultColumnWidths(const std::vector<int>& remembered);
    void FitValueColumns();
    // Fits the name column to the list's width, and with `remeasure` first to
    // the names now shown.
    void FitNameColumn(bool remeasure);
    void ConnectColumns();
    int SizeColumnNeed() const;
    int DateColumnNeed() const;
    int NameColumnNeed() const;
    static constexpr int kNameColumnWidth = 100;      // as made, and the least the fitting gives it
    static constexpr int kMostNameColumnUnits = 160;  // the most it gives it, in dialog units
    // While set, a column resized is the window's doing, not the user's.
    class ColumnsFitting final {
    public:
        explicit ColumnsFitting(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
        ~ColumnsFitting() { flag_ = old_; }
        ColumnsFitting(const ColumnsFitting&) = delete;
        ColumnsFitting& operator=(const ColumnsFitting&) = delete;

    private:
        bool& flag_;
        bool old_;
    };
    bool fittingColumns_ = false;
    bool ownNameWidth_ = false;              // the user set the name column's width (now or in an earlier run)
    int nameColumnNeed_ = kNameColumnWidth;  // what the names shown need
    void RestoreWindow();
    void FitFrameOnScreen();
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
    // The list rows selected in the window, in list order.
    std::vector<int> SelectedListRows() const;
    // Selects exactly the list rows `rows` (in list order); focus and scrolling stay.
    void SelectListRows(const std::vector<int>& rows);
    void MirrorResults();
    void ShowAboutBox();
    // Protected folders (snapsift_dlg_protection.cpp).
    void LoadProtection();
    void SaveProtection() const;
    void ShowProtection(const std::vector<int>& nodes);
    bool NodeProtected(const std::string& folder) const;
    void AddBrokenProtectionEntries(QMenu& menu) const;
    std::string NodeFolder(int node) const;
    void AddTreeEntries(QMenu& menu, QPoint globalPos);
    // The further picture types (snapsift_dlg_types.cpp).
    void PlaceTypeControls(bool withLine);
    void LoadPictureTypes();
    void ShowChosenTypes();
    void AddTypeEntries(QMenu& menu);
    bool OffersTypeEntries(const QContextMenuEvent& event) const;
    void ConnectTypeControls();
    void ShowExtensionBoxMenu(QPoint pos);
    // Opens the menu of the other-extension box or its check box for the menu
    // key or Shift+F10 pressed there; false for every other event.
    bool OpenTypeMenuByKey(QObject* watched, QEvent* event);
    // `busy`, when given, takes Esc (stop the search) and the quit button and
    // close box (end the program) while the search runs.
    void RunSearch(const std::string& target, const SearchOptions& options, BusyWindow* busy = nullptr);
    // Paints the window and shows the search's progress until `beside` has
    // ended (true) or was given up on (false); nothing when 終了 or the close
    // box ended the program meanwhile. `walking`: the search answers a stop at once.
    std::optional<bool> WaitForSearch(BesideWindow& beside, const std::atomic<bool>& walking, BusyWindow* busy);
    // Runs a step of a deletion or an undo beside the window: see DeleteSteps.
    // 終了 and the close box close the window, and the program ends once the
    // step has ended, or for a step that `moves`, once it has finished the
    // file in hand and its record (at most kFinishGrace on a disk that does
    // not answer). False then. Esc does nothing, as during the rest of a deletion.
    bool RunStepUntilQuit(BusyWindow& busy, DiskStep step, bool moves);
    // The same, where Esc stops waiting too: then, and after 終了, nothing (`quit` says which).
    enum class StepEnd {
        Ended,
        Stopped,
        Quit
    };
    StepEnd RunStep(BusyWindow& busy, DiskStep step, bool moves, bool escapeStops);
    // One flag per table row: its file lies under a protected folder. Decided
    // once per folder, beside the window; nothing when Esc or 終了 came first.
    std::optional<std::vector<std::uint8_t>> ProtectedRowsBeside(BusyWindow& busy, bool& quit);
    static constexpr std::chrono::milliseconds kFinishGrace{2000};
    bool LiesBelowSearchTarget(const std::string& path) const;
    void SearchAgainKeepingChoice();
    // A message box with the search's caption and icon.
    void ShowInformation(const std::string& text);
    // A message box with the deletion's caption, OK alone or OK and Cancel.
    MessageAnswer ShowConfirm(const std::string& text, bool withCancel);
    // Says why a listed file was not opened; nothing when it was.
    void ReportOpen(const std::string& path, const ShellResult& result, bool busy);

    ResultView m_view;
    SearchTargets m_targets;
    QSize baseSize_;
    bool fitAfterShow_ = false;  // restored: the desktop's frame may take it off its screen
    EdgeLayout edges_;
    WindowServices services_;
    std::unique_ptr<Messenger> ownMessenger_;
    Messenger* messenger_ = nullptr;
    std::unique_ptr<QtProgress> progressDriver_;
    ResultModel* resultModel_ = nullptr;
    ResultPreviews* previews_ = nullptr;       // picture tooltip and side-by-side window
    FileOpener* opener_ = nullptr;             // null when the services open files themselves
    std::vector<QTreeWidgetItem*> treeItems_;  // by node index
    std::set<int> listingLate_;                // nodes whose listing did not answer in time and goes on
    // The window's own last deletion that moved files: the undo puts back
    // exactly these, while its block is still the last one of its log.
    struct LastDeletion {
        std::string logPath;
        std::int64_t startTime = 0;
        std::vector<std::string> loggedPaths;
        std::vector<TrashedFile> files;
        std::string recordId;  // its record; empty when none could be finished
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
    // The line under the extension box while picture types are chosen; made
    // the first time one is.
    QLabel* m_typesLine = nullptr;
};

// Ends the process once the window has closed: what it holds (the rows, the
// previews' threads, a search left running on a slow disk) goes with the
// process at once, neither freed piece by piece nor waited for.
[[noreturn]] void EndProgram(int status);

}  // namespace snapsift
