// SPDX-License-Identifier: MIT
#include "ui/window/history_dlg.h"

#include "delete/deletion_log.h"
#include "platform/progress.h"
#include "ui/window/messenger.h"
#include "ui/window_texts.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace snapsift {
namespace {

constexpr int kDeletionRole = Qt::UserRole;  // index into the history
constexpr int kFileRole = Qt::UserRole + 1;  // index of the file, -1 for the deletion itself

QString Shown(const std::string& bytes)
{
    return QString::fromUtf8(VisibleControls(bytes));
}

}  // namespace

HistoryDlg::HistoryDlg(Messenger& messenger, RunBeside runBeside, QWidget* parent)
    : QDialog(parent), messenger_(messenger), runBeside_(std::move(runBeside))
{
    setWindowTitle(QString::fromUtf8(kHistoryTitleText));
    m_list = new QTreeWidget(this);
    m_list->setColumnCount(3);
    m_list->setHeaderLabels({QString::fromUtf8(kHistoryWhenHeadingText), QString::fromUtf8(kHistoryStateHeadingText),
                             QString::fromUtf8(kHistoryLogHeadingText)});
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setAccessibleName(QString::fromUtf8(kHistoryTitleText));
    m_restoreButton = new QPushButton(QString::fromUtf8(kHistoryRestoreButtonText), this);
    m_closeButton = new QPushButton(QString::fromUtf8(kHistoryCloseButtonText), this);
    m_restoreButton->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_restoreButton);
    buttons->addWidget(m_closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    connect(m_restoreButton, &QPushButton::clicked, this, &HistoryDlg::OnRestore);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_restoreButton->setEnabled(!m_list->selectedItems().isEmpty()); });
    resize(760, 420);
    Reload();
}

void HistoryDlg::Reload()
{
    std::vector<RecordedDeletion> history;
    runBeside_([&history](Progress&) { history = LoadHistory(RecordsFolder()); });
    std::reverse(history.begin(), history.end());
    history_ = std::move(history);
    m_list->clear();
    for (std::size_t d = 0; d < history_.size(); ++d) {
        const RecordedDeletion& deletion = history_[d];
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdString(DeletionLogTimeText(deletion.record.startTime)));
        item->setText(1, QString::fromStdString(HistoryCountText(deletion.record.files.size(), deletion.InTrash())));
        item->setText(2, Shown(deletion.record.log.path));
        item->setData(0, kDeletionRole, static_cast<int>(d));
        item->setData(0, kFileRole, -1);
        for (std::size_t f = 0; f < deletion.record.files.size(); ++f) {
            auto* file = new QTreeWidgetItem(item);
            file->setText(0, Shown(deletion.record.files[f].path));
            file->setText(1, QString::fromStdString(TrashedStateText(deletion.states[f])));
            file->setData(0, kDeletionRole, static_cast<int>(d));
            file->setData(0, kFileRole, static_cast<int>(f));
        }
    }
    if (history_.empty()) {
        auto* none = new QTreeWidgetItem(m_list);
        none->setText(0, QString::fromUtf8(kHistoryEmptyText));
        none->setFlags(Qt::NoItemFlags);
    } else {
        m_list->topLevelItem(0)->setExpanded(true);
    }
    m_list->header()->resizeSections(QHeaderView::ResizeToContents);
    m_restoreButton->setEnabled(false);
}

std::vector<TrashedFile> HistoryDlg::ChosenFiles() const
{
    // A chosen deletion stands for each of its files; each file counts once.
    std::set<std::pair<int, int>> chosen;
    for (const QTreeWidgetItem* item : m_list->selectedItems()) {
        const int d = item->data(0, kDeletionRole).toInt();
        const int f = item->data(0, kFileRole).toInt();
        if (d < 0 || static_cast<std::size_t>(d) >= history_.size())
            continue;
        const std::size_t count = history_[static_cast<std::size_t>(d)].record.files.size();
        for (std::size_t i = 0; i < count; ++i) {
            if (f < 0 || static_cast<std::size_t>(f) == i)
                chosen.emplace(d, static_cast<int>(i));
        }
    }
    // Files no longer in the trash (put back, or emptied by another program) are shown, not retried.
    std::vector<TrashedFile> files;
    for (const auto& [d, f] : chosen) {
        const RecordedDeletion& deletion = history_[static_cast<std::size_t>(d)];
        if (deletion.states[static_cast<std::size_t>(f)] == TrashedState::InTrash)
            files.push_back(deletion.record.files[static_cast<std::size_t>(f)]);
    }
    return files;
}

void HistoryDlg::OnRestore()
{
    const std::vector<TrashedFile> files = ChosenFiles();
    const auto ask = [this](const std::string& text, MessageButtons buttons) {
        return messenger_.Show({text, kConfirmCaption, buttons, MessageIcon::None});
    };
    if (files.empty()) {
        ask(kHistoryNothingChosenText, MessageButtons::Ok);
        return;
    }
    if (ask(HistoryRestoreQuestionText(files.size()), MessageButtons::OkCancel) != MessageAnswer::Ok)
        return;
    std::vector<RestoreResult> results;
    runBeside_([&](Progress& progress) { results = RestoreTrashed(files, progress); });
    results_.insert(results_.end(), results.begin(), results.end());
    ask(RestoreSummaryText(results), MessageButtons::Ok);
    Reload();
}

}  // namespace snapsift
