#include "ui/window_texts.h"

#include "delete/delete_selected.h"
#include "review/result_view.h"
#include "scan/folder_scan.h"
#include "targets/search_targets.h"
#include "version.h"

namespace snapsift {

const char* const kInformationCaption = "情報";
const char* const kConfirmCaption = "確認";

const char* const kChooseTargetText = "ツリービューで検索対象を選んでください";
const char* const kNotATargetText = "カレントは検索対象ではありません";
const char* const kNeedOtherExtensionText =
    "その他拡張子に文字列を指定してください。\n"
    "\u3000\u3000\u3000\u3000例\uff1a png, jpeg, txt, html 等";
const char* const kNeedFileTypeText = "検索したいファイル形式を選択してください";
const char* const kSearchStoppedText =
    "検索を中止しました。\n"
    "一覧は中止までに見つかったファイルだけで、すべてではありません。";

const char* const kNothingSelectedText = "削除アイテムが選択されていません";
const char* const kOverflowNoteText = "等の選択されたファイル(他は DeleteLog.log 参照)\n";
const char* const kConfirmQuestionText = "をごみ箱に移動してよろしいですか？";
const char* const kLogWriteFailedText =
    "削除ログ(DeleteLog.log)を書き込めませんでした。\nファイルは移動していません。";
const char* const kNotMovedText = "次のファイルはごみ箱に移動できませんでした。\n";
const char* const kChangedReasonText = "検索の後で変更されています";
const char* const kGoneReasonText = "ファイルが見つかりません";
const char* const kRefusedReasonText = "ごみ箱が受け付けませんでした: ";

const char* const kRestoreUnreadableText = "削除ログ(DeleteLog.log)から直前の削除を読めませんでした。";

const char* const kAboutMenuText = "ﾊﾞｰｼﾞｮﾝ情報(Snapsift) (&A)...";
const char* const kRestoreLastMenuText = "直前の削除を元に戻す(&U)";
const char* const kWindowTitleText = "Snapsift Ver" SNAPSIFT_SHORT_VERSION;

namespace {

constexpr std::size_t kPathsShown = 15;

std::string MoreText(std::size_t count)
{
    return "他 " + std::to_string(count - kPathsShown) + " 件\n";
}

std::string NotMovedReasonText(const NotMoved& file)
{
    switch (file.reason) {
    case NotMovedReason::Changed:
        return kChangedReasonText;
    case NotMovedReason::Gone:
        return kGoneReasonText;
    case NotMovedReason::Refused:
        return kRefusedReasonText + file.error;
    }
    return {};
}

std::string RestoreReasonText(const RestoreResult& r)
{
    switch (r.status) {
    case RestoreStatus::Restored:
        return {};
    case RestoreStatus::NotFound:
        return "ごみ箱にありません";
    case RestoreStatus::Occupied:
        return "元の場所に別のファイルがあります";
    case RestoreStatus::NotRegularFile:
        return "ごみ箱の項目が通常のファイルではありません";
    case RestoreStatus::BadTrashInfo:
        return "ごみ箱の情報ファイル(.trashinfo)が壊れています";
    case RestoreStatus::Failed:
        return "移動できません: " + r.error;
    }
    return {};
}

} // namespace

std::string TargetRefusalText(TargetRefusal refusal)
{
    switch (refusal) {
    case TargetRefusal::None:
        return {};
    case TargetRefusal::NoNodeSelected:
        return kChooseTargetText;
    case TargetRefusal::NotATarget:
        return kNotATargetText;
    }
    return {};
}

std::string SearchRefusalText(SearchRefusal refusal)
{
    switch (refusal) {
    case SearchRefusal::None:
        return {};
    case SearchRefusal::NeedOtherExtension:
        return kNeedOtherExtensionText;
    case SearchRefusal::NeedFileType:
        return kNeedFileTypeText;
    }
    return {};
}

std::string ExtensionTooLongText(int limit)
{
    return std::to_string(limit) + " 文字以内で入力してください。";
}

std::string DeleteConfirmationText(const std::vector<std::string>& paths)
{
    std::string text;
    for (std::size_t i = 0; i < paths.size() && i < kPathsShown; ++i)
        text += paths[i] + "\n";
    if (paths.size() > kPathsShown)
        text += kOverflowNoteText;
    return text + kConfirmQuestionText;
}

std::string NotMovedMessageText(const std::vector<NotMoved>& notMoved)
{
    std::string text = kNotMovedText;
    for (std::size_t i = 0; i < notMoved.size() && i < kPathsShown; ++i)
        text += notMoved[i].path + " \uff08" + NotMovedReasonText(notMoved[i]) + "\uff09\n";
    if (notMoved.size() > kPathsShown)
        text += MoreText(notMoved.size());
    return text;
}

std::string RestoreQuestionText(std::size_t fileCount)
{
    return "直前の削除でごみ箱に移動した " + std::to_string(fileCount) +
           " 個のファイルを元の場所に戻します。よろしいですか？";
}

std::string RestoreSummaryText(const std::vector<RestoreResult>& results)
{
    std::size_t restored = 0;
    std::vector<const RestoreResult*> left;
    for (const RestoreResult& r : results) {
        if (r.status == RestoreStatus::Restored)
            ++restored;
        else
            left.push_back(&r);
    }
    std::string text = std::to_string(restored) + " 個のファイルを元の場所に戻しました。";
    if (left.empty())
        return text;
    text += "\n次のファイルは元に戻せませんでした。\n";
    for (std::size_t i = 0; i < left.size() && i < kPathsShown; ++i)
        text += left[i]->path + " (" + RestoreReasonText(*left[i]) + ")\n";
    if (left.size() > kPathsShown)
        text += MoreText(left.size());
    return text;
}

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
const char* const kAboutHelpText = "Snapsift ヘルプ: share/snapsift/help/index.html";

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
const char* const kCompareMenuText = "同じ名前のファイルを並べて表示(&P)";
const char* const kCompareMarkedText = "削除候補に選択中";
const char* const kCompareTitleText = "並べて表示 - ";
const char* const kCompareCountSeparatorText = "\u3000";
const char* const kCompareCountText = "%1 件";
const char* const kCompareNoneText = "一覧にこの名前のファイルはありません";
const char* const kCompareOpenTipText = "ダブルクリックで開きます";

} // namespace snapsift
