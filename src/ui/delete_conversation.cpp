// SPDX-License-Identifier: MIT
#include "ui/delete_conversation.h"

#include "review/protection.h"
#include "review/result_view.h"
#include "ui/window/messenger.h"
#include "ui/window_texts.h"

#include <algorithm>
#include <memory>
#include <unordered_map>

namespace snapsift {
namespace {

// Splits the selected list rows by protection. The protected folders are
// resolved (a realpath each), which may wait on a disk: that runs as a step
// of its own, on copies of the folders of the rows.
bool SplitByProtection(const ResultView& view, const std::vector<int>& rows, const ProtectedFolders& protection,
                       const DeleteSteps& steps, Progress& progress, ProtectedSplit& split)
{
    struct Look {
        ProtectedFolders protection;
        std::vector<std::string> folders;   // each once
        std::vector<std::uint8_t> covered;  // by folder
    };
    const auto look = std::make_shared<Look>();
    look->protection = protection;
    std::unordered_map<const std::string*, std::size_t> folderIndex;  // the table keeps each folder once
    std::vector<std::size_t> folderOfRow;
    folderOfRow.reserve(rows.size());
    for (int row : rows) {
        const std::string* folder = &view.table.Folder(view.list.TableRow(row));
        const auto [it, added] = folderIndex.try_emplace(folder, look->folders.size());
        if (added)
            look->folders.push_back(*folder);
        folderOfRow.push_back(it->second);
    }
    const DiskStep step = [look](Progress&, const std::stop_token&) {
        look->covered = CoveredFolders(look->protection, look->folders);
    };
    if (steps.run) {
        if (!steps.run(step, false))
            return false;
    } else {
        step(progress, {});
    }
    split = {};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (look->covered[folderOfRow[i]])
            split.protectedPaths.push_back(view.table.Path(view.list.TableRow(rows[i])));
        else
            split.movable.push_back(rows[i]);
    }
    return true;
}

}  // namespace

std::vector<std::uint8_t> CoveredFolders(const ProtectedFolders& protection, const std::vector<std::string>& folders)
{
    ProtectionRule rule(protection, ReadMountTable(), true);
    std::vector<std::uint8_t> covered;
    covered.reserve(folders.size());
    for (const std::string& folder : folders)
        covered.push_back(rule.Covers(folder) ? 1 : 0);
    return covered;
}

DeleteOutcome DeleteWithConfirmation(ResultView& view, const std::vector<int>& selected, Messenger& messenger,
                                     Progress& progress, const std::string& logPath, std::int64_t startTime,
                                     const TrashHooks& hooks, const ProtectedFolders* protection,
                                     std::chrono::milliseconds patience, const DeleteSteps& steps)
{
    const auto tell = [&messenger](const std::string& text) {
        messenger.Show({text, kConfirmCaption, MessageButtons::Ok, MessageIcon::None});
    };
    // In list order, each once.
    std::vector<int> rows = selected;
    const int listed = view.list.GetItemCount();
    rows.erase(std::remove_if(rows.begin(), rows.end(), [listed](int j) { return j < 0 || j >= listed; }), rows.end());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.empty()) {
        tell(kNothingSelectedText);
        return {};
    }
    // Files under a protected folder are named apart and stay where they are.
    ProtectedSplit split{rows, {}};
    if (protection != nullptr && !protection->Empty() &&
        !SplitByProtection(view, rows, *protection, steps, progress, split))
        return {};
    if (split.movable.empty()) {
        tell(std::string(kOnlyProtectedText) + "\n" + ProtectedNotMovedText(split.protectedPaths));
        return {};
    }
    std::string question = DeleteConfirmationText(ListedPaths(view, split.movable));
    if (!split.protectedPaths.empty())
        question = ProtectedNotMovedText(split.protectedPaths) + "\n" + question;
    if (messenger.Show({question, kConfirmCaption, MessageButtons::OkCancel, MessageIcon::None}) != MessageAnswer::Ok)
        return {};
    struct Deletion {
        std::vector<ConfirmedFile> files;
        std::string logPath;
        TrashHooks hooks;
        DeleteOutcome outcome;
    };
    const auto deletion = std::make_shared<Deletion>();
    deletion->files = ConfirmedFiles(view, split.movable);
    deletion->logPath = logPath;
    deletion->hooks = hooks;
    const DiskStep step = [deletion, startTime, patience](Progress& shown, const std::stop_token& stop) {
        deletion->outcome =
            DeleteConfirmed(deletion->files, shown, deletion->logPath, startTime, deletion->hooks, patience, stop);
    };
    if (steps.run) {
        if (!steps.run(step, true))
            return {};
    } else {
        step(progress, {});
    }
    DeleteOutcome outcome = std::move(deletion->outcome);
    if (outcome.stop == DeleteStop::None)
        RemoveMovedRows(view, outcome);
    if (const std::string report = DeleteReportText(outcome); !report.empty())
        tell(report);
    return outcome;
}

}  // namespace snapsift
