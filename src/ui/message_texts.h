// SPDX-License-Identifier: MIT
#pragma once

// The main window's messages: what it says about the search, the deletion,
// the undo and the recorded deletions, made of what the core's commands
// returned. UTF-8.

#include "delete/restore_last.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace snapsift {

enum class SearchRefusal;
enum class TargetRefusal;
struct NotMoved;
struct DeleteOutcome;

// The search.
extern const char* const kChooseTargetText;        // no node selected
extern const char* const kNotATargetText;          // the "カレント" root chosen
extern const char* const kNeedOtherExtensionText;  // "other" ticked with no extension
extern const char* const kNeedFileTypeText;        // no type ticked
// The message for a refused target or refused options; empty for None.
std::string TargetRefusalText(TargetRefusal refusal);
std::string SearchRefusalText(SearchRefusal refusal);
// The extension box holds more than `limit` bytes.
std::string ExtensionTooLongText(int limit);
// Esc stopped the search: the list holds what was found until then.
extern const char* const kSearchStoppedText;

// How much of the extension box a text fills: one for an ASCII character,
// two for any other, as on a double-byte code page.
int ExtensionWidth(std::string_view utf8);

// The deletion.
extern const char* const kNothingSelectedText;
extern const char* const kOverflowNoteText;
extern const char* const kConfirmQuestionText;
extern const char* const kLogWriteFailedText;
extern const char* const kNotMovedText;
extern const char* const kRecordNotBegunText;     // no record could be begun: nothing moved
extern const char* const kBlockLostText;          // files moved, but no log took the block
extern const char* const kRecordNotFinishedText;  // the record stays as its journal
// Why a file was not moved, in parentheses after its path.
extern const char* const kChangedReasonText;         // no longer the file the search found
extern const char* const kGoneReasonText;            // nothing under its path any more
extern const char* const kRefusedReasonText;         // followed by the system's own words
extern const char* const kChangedInTrashReasonText;  // followed by the entry in the trash
// The question before moving `paths`: the first 15, then a note for the rest.
std::string DeleteConfirmationText(const std::vector<std::string>& paths);
// The message naming the files not moved, each with its reason; the first 15.
std::string NotMovedMessageText(const std::vector<NotMoved>& notMoved);
extern const char* const kDeletionLogName;  // "DeleteLog.log"
// Neither log took the block, and why: nothing was moved.
std::string LogNotWrittenText(const DeleteOutcome& outcome);
// The block went to the fallback log, and why.
std::string LogElsewhereText(const DeleteOutcome& outcome);
// The one message after a confirmed deletion: where the record went when not
// to the asked-for log, then the files not moved. Empty when all went well.
std::string DeleteReportText(const DeleteOutcome& outcome);

// Undoing the last deletion.
extern const char* const kRestoreUnreadableText;
// The window's own last deletion is not the last block of its log.
std::string RestoreNotThisDeletionText(const std::string& logPath);
std::string RestoreQuestionText(std::size_t fileCount);
std::string RestoreSummaryText(const std::vector<RestoreResult>& results);

// The recorded deletions.
// How many of a deletion's files are still in the trash.
std::string HistoryCountText(std::size_t moved, std::size_t inTrash);
// Where one recorded file is now.
std::string TrashedStateText(TrashedState state);
// The question before putting back `fileCount` chosen files.
std::string HistoryRestoreQuestionText(std::size_t fileCount);

// Opening files.
// The help page could not be opened: `noProgram` when the desktop has no
// program for it, otherwise the file is missing; names the page's full path.
std::string HelpNotOpenedText(const std::string& path, bool noProgram);
// A listed file could not be opened: no program is registered for it, or
// the desktop failed with `error` (its own words). Names the file's path.
std::string FileNotOpenedText(const std::string& path, bool noProgram, const std::string& error);
// A file is not opened because earlier opens have not returned.
std::string FileOpenBusyText(const std::string& path);

// Verified automatic selection and protected folders.
// After automatic selection: how many copies were left unselected because
// their bytes differ from the newer copy, or their file could not be read as
// found. Empty when both are 0.
std::string LeftUnselectedText(int differing, int unreadable);
// The confirmation's part naming the selected files that stay because they
// lie under a protected folder; the first 15.
std::string ProtectedNotMovedText(const std::vector<std::string>& paths);
extern const char* const kOnlyProtectedText;  // every selected file lies under a protected folder
// The settings name more protected folders than are read: the first `kept` are.
std::string ProtectionCutText(std::size_t kept);
// A disabled entry of the tree's menu: a protected folder whose settings entry
// is no path as written; it is kept and still protects what it names.
std::string BrokenProtectionText(const std::string& written);

}  // namespace snapsift
