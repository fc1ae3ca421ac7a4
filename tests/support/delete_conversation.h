#pragma once

#include "delete/delete_selected.h"
#include "ui/window/messenger.h"
#include "review/result_view.h"
#include "ui/window_texts.h"

#include <cstdint>
#include <string>

namespace snapsift::testing {

// The delete button's conversation as the window holds it, for tests of the
// core without a window: confirm the selected rows, delete them, and say when
// the log could not be written or which files were not moved.
inline DeleteOutcome DeleteWithConfirmation(ResultView& view, Messenger& messenger, Progress& progress,
                                            const std::string& logPath, std::int64_t startTime)
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
    DeleteOutcome outcome = DeleteConfirmed(view, rows, progress, logPath, startTime);
    if (outcome.log == LogOutcome::WriteFailed)
        tell(kLogWriteFailedText);
    else if (!outcome.notMoved.empty())
        tell(NotMovedMessageText(outcome.notMoved));
    return outcome;
}

} // namespace snapsift::testing
