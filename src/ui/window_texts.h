// SPDX-License-Identifier: MIT
#pragma once

// Every text the main window shows in its message boxes and menus, and the
// messages it makes of what the core's commands returned. UTF-8.

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

extern const char* const kInformationCaption;  // "情報": the search's messages
extern const char* const kConfirmCaption;      // "確認": the deletion's and the undo's messages

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
extern const char* const kChangedReasonText;  // no longer the file the search found
extern const char* const kGoneReasonText;     // nothing under its path any more
extern const char* const kRefusedReasonText;  // followed by the system's own words
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

// A name or path as the window shows it: every control character (CR, LF,
// TAB and the rest of C0, DEL) as its visible symbol (␍ ␊ ␉ …), and the
// Unicode line and paragraph separators and NEL as ␤, so that a name stays on
// one line. Other bytes are kept. The log and the report keep the real bytes.
std::string VisibleControls(std::string_view bytes);

// How much of the extension box a text fills: one for an ASCII character,
// two for any other, as on a double-byte code page.
int ExtensionWidth(std::string_view utf8);

// The help page could not be opened: `noProgram` when the desktop has no
// program for it, otherwise the file is missing; names the page's full path.
std::string HelpNotOpenedText(const std::string& path, bool noProgram);
// A listed file could not be opened: no program is registered for it, or
// the desktop failed with `error` (its own words). Names the file's path.
std::string FileNotOpenedText(const std::string& path, bool noProgram, const std::string& error);
// A file is not opened because earlier opens have not returned.
std::string FileOpenBusyText(const std::string& path);

// Menus and the rest.
extern const char* const kAboutMenuText;        // "ﾊﾞｰｼﾞｮﾝ情報(Snapsift) (&A)..."
extern const char* const kRestoreLastMenuText;  // "直前の削除を元に戻す(&U)"
extern const char* const kHistoryMenuText;      // "削除の履歴(&H)…"

// The window listing the recorded deletions.
extern const char* const kHistoryTitleText;         // "削除の履歴"
extern const char* const kHistoryWhenHeadingText;   // first column: the deletion's time, or a file's path
extern const char* const kHistoryStateHeadingText;
extern const char* const kHistoryLogHeadingText;
extern const char* const kHistoryRestoreButtonText;  // "元に戻す(&R)"
extern const char* const kHistoryCloseButtonText;    // "閉じる"
extern const char* const kHistoryEmptyText;          // no deletion is recorded
extern const char* const kHistoryNothingChosenText;  // nothing chosen is in the trash
// How many of a deletion's files are still in the trash.
std::string HistoryCountText(std::size_t moved, std::size_t inTrash);
// Where one recorded file is now.
std::string TrashedStateText(TrashedState state);
// The question before putting back `fileCount` chosen files.
std::string HistoryRestoreQuestionText(std::size_t fileCount);
extern const char* const kWindowTitleText;  // "Snapsift Ver1.0": the title and the version button
// The result list's column headings, by ResultColumn.
const char* ResultColumnHeading(int column);

// The controls: labels, frame titles and the names read out for them.
extern const char* const kJpegCheckText;
extern const char* const kBmpCheckText;
extern const char* const kGifCheckText;
extern const char* const kOtherCheckText;
extern const char* const kSearchButtonText;
extern const char* const kAutoSelectButtonText;
extern const char* const kDeleteButtonText;
extern const char* const kQuitButtonText;
extern const char* const kClearButtonText;
extern const char* const kResultsFrameText;
extern const char* const kTargetsFrameText;
extern const char* const kVersionButtonNameText;
extern const char* const kFolderTreeNameText;
extern const char* const kOtherExtensionNameText;
extern const char* const kDuplicateComboNameText;
extern const char* const kProgressNameText;
extern const char* const kResultListNameText;
extern const char* const kCancelButtonText;  // the message boxes' Cancel

// The About box.
extern const char* const kAboutTitleText;
extern const char* const kAboutNameText;
extern const char* const kAboutCopyrightText;
extern const char* const kAboutHelpText;

// Previews.
extern const char* const kPreviewFailedText;        // "プレビューできません"
extern const char* const kPreviewFailedFormatText;  // the words above, then the reason in parentheses
extern const char* const kPreviewLoadingText;       // "読み込み中…"
// Why there is no preview.
extern const char* const kNoFileReasonText;
extern const char* const kLinkReasonText;
extern const char* const kNotReadableReasonText;
extern const char* const kCannotOpenReasonText;
extern const char* const kNotRegularReasonText;
extern const char* const kEmptyReasonText;
extern const char* const kNotPictureReasonText;
extern const char* const kTooLargeReasonText;
extern const char* const kBrokenReasonText;
extern const char* const kTookTooLongReasonText;  // the decoding helper ran past its time
extern const char* const kHelpersStuckReasonText;  // earlier helpers are stuck on a disk that does not answer
// The window showing the files of one name side by side.
extern const char* const kCompareMenuText;    // "同じ名前のファイルを並べて表示(&P)"
extern const char* const kCompareMarkedText;  // "削除候補に選択中"
extern const char* const kCompareTitleText;   // followed by the name
extern const char* const kCompareCountSeparatorText;  // between the name and the count
extern const char* const kCompareCountText;   // "%1": how many files have the name
extern const char* const kCompareNoneText;    // no file in the list has the name
extern const char* const kCompareOpenTipText;
extern const char* const kCompareSameText;       // "内容が同じ": the bytes equal the newest copy's
extern const char* const kCompareDifferentText;  // "内容が異なる"
extern const char* const kCaptureTimeText;  // "%1": when the picture was taken, as its EXIF says
extern const char* const kCameraText;       // "%1": the camera's model, as its EXIF says

// Verified automatic selection and protected folders.
// After automatic selection: how many copies were left unselected because
// their bytes differ from the newer copy, or their file could not be read as
// found. Empty when both are 0.
std::string LeftUnselectedText(int differing, int unreadable);
extern const char* const kProtectMenuText;    // "このフォルダを保護する(&K)"
extern const char* const kUnprotectMenuText;  // "保護を解除する(&K)"
// The confirmation's part naming the selected files that stay because they
// lie under a protected folder; the first 15.
std::string ProtectedNotMovedText(const std::vector<std::string>& paths);
extern const char* const kOnlyProtectedText;  // every selected file lies under a protected folder
// The settings name more protected folders than are read: the first `kept` are.
std::string ProtectionCutText(std::size_t kept);
// A disabled entry of the tree's menu: a protected folder whose settings entry
// is no path as written; it is kept and still protects what it names.
std::string BrokenProtectionText(const std::string& written);

} // namespace snapsift
