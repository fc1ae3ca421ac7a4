// SPDX-License-Identifier: MIT
#pragma once

// Every text the main window and the previews show: the fixed words of the
// captions, menus, controls, the About box and the previews here, the
// messages made of the core's outcomes in message_texts.h. UTF-8.

#include "ui/message_texts.h"
#include "ui/visible_controls.h"

namespace snapsift {

extern const char* const kInformationCaption;  // "情報": the search's messages
extern const char* const kConfirmCaption;      // "確認": the deletion's and the undo's messages

// Menus and the rest.
extern const char* const kAboutMenuText;        // "ﾊﾞｰｼﾞｮﾝ情報(Snapsift) (&A)..."
extern const char* const kRestoreLastMenuText;  // "直前の削除を元に戻す(&U)"
extern const char* const kHistoryMenuText;      // "削除の履歴(&H)…"

// The window listing the recorded deletions.
extern const char* const kHistoryTitleText;        // "削除の履歴"
extern const char* const kHistoryWhenHeadingText;  // first column: the deletion's time, or a file's path
extern const char* const kHistoryStateHeadingText;
extern const char* const kHistoryLogHeadingText;
extern const char* const kHistoryRestoreButtonText;  // "元に戻す(&R)"
extern const char* const kHistoryCloseButtonText;    // "閉じる"
extern const char* const kHistoryEmptyText;          // no deletion is recorded
extern const char* const kHistoryNothingChosenText;  // nothing chosen is in the trash
extern const char* const kWindowTitleText;           // "Snapsift Ver1.0": the title and the version button
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
extern const char* const kTookTooLongReasonText;   // the decoding helper ran past its time
extern const char* const kHelpersStuckReasonText;  // earlier helpers are stuck on a disk that does not answer
// The window showing the files of one name side by side.
extern const char* const kCompareMenuText;            // "同じ名前のファイルを並べて表示(&P)"
extern const char* const kCompareMarkedText;          // "削除候補に選択中"
extern const char* const kCompareTitleText;           // followed by the name
extern const char* const kCompareCountSeparatorText;  // between the name and the count
extern const char* const kCompareCountText;           // "%1": how many files have the name
extern const char* const kCompareNoneText;            // no file in the list has the name
extern const char* const kCompareOpenTipText;
extern const char* const kCompareSameText;       // "内容が同じ": the bytes equal the newest copy's
extern const char* const kCompareDifferentText;  // "内容が異なる"
extern const char* const kCaptureTimeText;       // "%1": when the picture was taken, as its EXIF says
extern const char* const kCameraText;            // "%1": the camera's model, as its EXIF says

// Verified automatic selection and protected folders.
extern const char* const kProtectMenuText;    // "このフォルダを保護する(&K)"
extern const char* const kUnprotectMenuText;  // "保護を解除する(&K)"

}  // namespace snapsift
