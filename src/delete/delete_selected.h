#pragma once

#include <cstdint>
#include <string>

namespace snapsift {

class Messenger;
class Progress;
class ResultView;

extern const char* const kConfirmCaption;      // "確認"
extern const char* const kNothingSelectedText;
extern const char* const kOverflowNoteText;
extern const char* const kConfirmQuestionText;
extern const char* const kLogWriteFailedText;
extern const char* const kNotMovedText;
// Why a file was not moved, in parentheses after its path.
extern const char* const kChangedReasonText;  // no longer the file the search found
extern const char* const kGoneReasonText;     // nothing under its path any more
extern const char* const kRefusedReasonText;  // followed by GIO's own message

// The delete command for the rows selected in the result list: confirm, log
// the paths, move each file to the trash, drop the rows of the moved files and
// rebuild the list for the current choice. A file is moved only when it is
// still the regular file its row describes (the very file the search found
// there, with the same size and date texts); what is not moved keeps its row
// and is named in one message afterwards, each path with the reason. When
// the log cannot be written, nothing is moved. Nothing is ever deleted
// outright. While another process writes the log, the command waits for it
// (see AppendDeletionLog), calling `progress.WhileWaiting()`.
void OnDeleteSelected(ResultView& view, Messenger& messenger, Progress& progress,
                      const std::string& logPath = "DeleteLog.log", std::int64_t (*now)() = nullptr);

} // namespace snapsift
