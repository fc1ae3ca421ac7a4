// SPDX-License-Identifier: MIT
#include "ui/delete_conversation.h"

#include "review/protection.h"
#include "review/result_view.h"
#include "ui/window/messenger.h"
#include "ui/window_texts.h"

namespace snapsift {

DeleteOutcome DeleteWithConfirmation(ResultView& view, Messenger& messenger, Progress& progress,
                                     const std::string& logPath, std::int64_t startTime,
                                     const TrashHooks& hooks, const ProtectedFolders* protection,
                                     std::chrono::milliseconds patience)
{
    const auto tell = [&messenger](const std::string& text) {
        messenger.Show({text, kConfirmCaption, MessageButtons::Ok, MessageIcon::None});
    };
    const std::vector<int> rows = SelectedListRows(view.list);
    if (rows.empty()) {
        tell(kNothingSelectedText);
        return {};
    }
    // Files under a protected folder are named apart and stay where they are.
    ProtectedSplit split{rows, {}};
    if (protection != nullptr)
        split = SplitProtected(view, rows, *protection);
    if (split.movable.empty()) {
        tell(std::string(kOnlyProtectedText) + "\n" + ProtectedNotMovedText(split.protectedPaths));
        return {};
    }
    std::string question = DeleteConfirmationText(ListedPaths(view, split.movable));
    if (!split.protectedPaths.empty())
        question = ProtectedNotMovedText(split.protectedPaths) + "\n" + question;
    if (messenger.Show({question, kConfirmCaption, MessageButtons::OkCancel, MessageIcon::None}) != MessageAnswer::Ok)
        return {};
    DeleteOutcome outcome = DeleteConfirmed(ConfirmedFiles(view, split.movable), progress, logPath, startTime, hooks,
                                            patience);
    if (outcome.stop == DeleteStop::None)
        RemoveMovedRows(view, outcome);
    if (const std::string report = DeleteReportText(outcome); !report.empty())
        tell(report);
    return outcome;
}

} // namespace snapsift
