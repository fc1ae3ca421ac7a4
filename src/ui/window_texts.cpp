// SPDX-License-Identifier: MIT
#include "ui/window_texts.h"

#include "review/result_view.h"
#include "version.h"

namespace snapsift {

const char* const kInformationCaption = "情報";
const char* const kConfirmCaption = "確認";

const char* const kAboutMenuText = "ﾊﾞｰｼﾞｮﾝ情報(Snapsift) (&A)...";
const char* const kRestoreLastMenuText = "直前の削除を元に戻す(&U)";
const char* const kHistoryMenuText = "削除の履歴(&H)…";
const char* const kHistoryTitleText = "削除の履歴";
const char* const kHistoryWhenHeadingText = "削除した日時 / ファイル";
const char* const kHistoryStateHeadingText = "状態";
const char* const kHistoryLogHeadingText = "削除ログ";
const char* const kHistoryRestoreButtonText = "元に戻す(&R)";
const char* const kHistoryCloseButtonText = "閉じる";
const char* const kHistoryEmptyText = "記録された削除はありません";
const char* const kHistoryNothingChosenText = "選んだファイルは、どれもごみ箱にありません。";
const char* const kWindowTitleText = "Snapsift Ver" SNAPSIFT_SHORT_VERSION;

const char* ResultColumnHeading(int column)
{
    static const char* const kHeadings[kResultColumnCount] = {"ファイル名", "サイズ", "作成年月日", "パス"};
    return column >= 0 && column < kResultColumnCount ? kHeadings[column] : "";
}

// The controls.
const char* const kJpegCheckText = "JPEG形式 ( jpg )";
const char* const kBmpCheckText = "BITMAP形式 ( bmp )";
const char* const kGifCheckText = "GIF形式 ( gif )";
const char* const kOtherCheckText = "その他拡張子";
const char* const kSearchButtonText = "重複ファイル検索実行";
const char* const kAutoSelectButtonText = "自動削除候補選択";
const char* const kDeleteButtonText = "選択したファイルを削除";
const char* const kQuitButtonText = "終了";
const char* const kClearButtonText = "クリア";
const char* const kResultsFrameText = "検索結果";
const char* const kTargetsFrameText = "検索対象を選択";
const char* const kVersionButtonNameText = "バージョン情報を開く";
const char* const kFolderTreeNameText = "検索対象のフォルダ";
const char* const kOtherExtensionNameText = "その他の拡張子";
const char* const kDuplicateComboNameText = "重複ファイル名";
const char* const kProgressNameText = "進み具合";
const char* const kResultListNameText = "検索結果";
const char* const kCancelButtonText = "キャンセル";

// The About box.
const char* const kAboutTitleText = "ﾊﾞｰｼﾞｮﾝ情報 Snapsift";
const char* const kAboutNameText = "画像ファイル整とんソフト\u3000Snapsift Version " SNAPSIFT_SHORT_VERSION;
const char* const kAboutCopyrightText = "Copyright (C) 2026 Snapsift developers";
const char* const kAboutHelpText = "Snapsift ヘルプ";

// Previews.
const char* const kPreviewFailedText = "プレビューできません";
const char* const kPreviewFailedFormatText = "%1（%2）";
const char* const kPreviewLoadingText = "読み込み中…";
const char* const kNoFileReasonText = "ファイルがありません";
const char* const kLinkReasonText = "リンクです";
const char* const kNotReadableReasonText = "読み取りが許可されていません";
const char* const kCannotOpenReasonText = "ファイルを開けません";
const char* const kNotRegularReasonText = "通常のファイルではありません";
const char* const kEmptyReasonText = "空のファイルです";
const char* const kNotPictureReasonText = "画像ではないか、対応していない形式です";
const char* const kTooLargeReasonText = "画像が大きすぎます";
const char* const kBrokenReasonText = "壊れているか、途中で切れています";
const char* const kTookTooLongReasonText = "読み込みに時間がかかりすぎます";
const char* const kHelpersStuckReasonText = "前の読み込みが応答しないため、今は読み込めません";
const char* const kCompareMenuText = "同じ名前のファイルを並べて表示(&P)";
const char* const kCompareMarkedText = "削除候補に選択中";
const char* const kCompareTitleText = "並べて表示 - ";
const char* const kCompareCountSeparatorText = "\u3000";
const char* const kCompareCountText = "%1 件";
const char* const kCompareNoneText = "一覧にこの名前のファイルはありません";
const char* const kCompareOpenTipText = "ダブルクリックで開きます";
const char* const kCompareSameText = "内容が同じ";
const char* const kCompareDifferentText = "内容が異なる";
const char* const kCaptureTimeText = "撮影日時 %1";
const char* const kCameraText = "カメラ %1";

const char* const kProtectMenuText = "このフォルダを保護する(&K)";
const char* const kUnprotectMenuText = "保護を解除する(&K)";

}  // namespace snapsift
