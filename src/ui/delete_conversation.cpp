#include "ui/delete_conversation.h"

#include "review/result_view.h"
#include "ui/window/messenger.h"
#include "ui/window_texts.h"

namespace snapsift {

DeleteOutcome DeleteWithConfirmation(ResultView& view, Messenger& messenger, Progress& progress,
                                     const std::string& logPath, std::int64_t startTime,
                                     const TrashHooks& hooks)
{
    const auto tell = [&messenger](const std::string& text) {
        messenger.Show({text, kConfirmCaption, MessageButtons::Ok, MessageIcon::None});
    };
    const std::vector<int> rows = SelectedListRows(view.list);
    if (rows.empty()) {
        tell(kNothingSelectedText);
        return {};
    }
    if (messenger.Show({DeleteConfirmationText(ListedPaths(view, rows)), kConfirmCaption, MessageButtons::OkCancel,
                        MessageIcon::None}) != MessageAnswer::Ok)
        return {};
    DeleteOutcome outcome = DeleteConfirmed(view, rows, progress, logPath, startTime, hooks);
    if (const std::string report = DeleteReportText(outcome); !report.empty())
        tell(report);
    return outcome;
}

} // namespace snapsift
