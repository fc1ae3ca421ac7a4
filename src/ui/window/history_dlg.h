// SPDX-License-Identifier: MIT
#pragma once

#include "delete/deletion_record.h"
#include "delete/restore_last.h"

#include <QDialog>

#include <functional>
#include <vector>

class QPushButton;
class QTreeWidget;

namespace snapsift {

class Messenger;
class Progress;

// The recorded deletions, newest first, each with its files and where each
// is now. The chosen deletions (every file of theirs still in the trash) or
// the chosen files go back after a confirmation, with the checks of the
// undo, and one message sums up what came back.
class HistoryDlg final : public QDialog {
    Q_OBJECT
public:
    // `runBeside` runs work that waits on the disk off the window's thread.
    using RunBeside = std::function<void(const std::function<void(Progress&)>&)>;
    HistoryDlg(Messenger& messenger, RunBeside runBeside, QWidget* parent);

    // Reads the records again and shows them.
    void Reload();
    // Puts back what is chosen.
    void OnRestore();
    // What the restores of this window gave, in order.
    const std::vector<RestoreResult>& Results() const { return results_; }

    QTreeWidget* m_list = nullptr;
    QPushButton* m_restoreButton = nullptr;
    QPushButton* m_closeButton = nullptr;

private:
    std::vector<TrashedFile> ChosenFiles() const;

    Messenger& messenger_;
    RunBeside runBeside_;
    std::vector<RecordedDeletion> history_;  // newest first
    std::vector<RestoreResult> results_;
};

}  // namespace snapsift
