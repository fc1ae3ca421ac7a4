// SPDX-License-Identifier: MIT
#include "ui/message_texts.h"

#include "delete/delete_selected.h"
#include "scan/folder_scan.h"
#include "targets/search_targets.h"
#include "ui/visible_controls.h"

#include <cerrno>

namespace snapsift {

const char* const kChooseTargetText = "ツリービューで検索対象を選んでください";
const char* const kNotATargetText = "カレントは検索対象ではありません";
const char* const kNeedOtherExtensionText = "その他拡張子に文字列を指定してください。\n"
                                            "\u3000\u3000\u3000\u3000例\uff1a png, jpeg, txt, html 等";
const char* const kNeedFileTypeText = "検索したいファイル形式を選択してください";
const char* const kSearchStoppedText = "検索を中止しました。\n"
                                       "一覧は中止までに見つかったファイルだけで、すべてではありません。";

const char* const kNothingSelectedText = "削除アイテムが選択されていません";
const char* const kOverflowNoteText = "等の選択されたファイル(他は DeleteLog.log 参照)\n";
const char* const kConfirmQuestionText = "をごみ箱に移動してよろしいですか？";
const char* const kLogWriteFailedText = "削除ログ(DeleteLog.log)を書き込めませんでした。\nファイルは移動していません。";
const char* const kNotMovedText = "次のファイルはごみ箱に移動できませんでした。\n";
const char* const kChangedReasonText = "検索の後で変更されています";
const char* const kGoneReasonText = "ファイルが見つかりません";
const char* const kRefusedReasonText = "ごみ箱が受け付けませんでした: ";
const char* const kChangedInTrashReasonText =
    "検索の後で別のファイルに置き換えられていました。そのファイルは元の場所に戻せなかったため、ごみ箱に残っています: ";

const char* const kRecordNotBegunText = "削除の記録を書き込めませんでした。\nファイルは移動していません。";
const char* const kBlockLostText =
    "削除ログ(DeleteLog.log)を書き込めませんでした。\n移動したファイルは次の削除の記録に残っています (snapsift "
    "--history)。";
const char* const kRecordNotFinishedText = "削除の記録を仕上げられませんでした。途中の記録が残っています。";
const char* const kRestoreUnreadableText = "削除ログ(DeleteLog.log)から直前の削除を読めませんでした。";
const char* const kDeletionLogName = "DeleteLog.log";
const char* const kOnlyProtectedText = "選択したファイルはすべて保護されたフォルダにあるため、削除できません";

namespace {

constexpr std::size_t kPathsShown = 15;

std::string MoreText(std::size_t count)
{
    return "他 " + std::to_string(count - kPathsShown) + " 件\n";
}

// The system's refusal in Japanese: the usual ones in words, the rest by number.
std::string SystemErrorText(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return "書き込む権限がありません";
    case EROFS:
        return "読み取り専用のファイルシステムです";
    case ENOSPC:
        return "ディスクに空きがありません";
    case EDQUOT:
        return "ディスクの使用量が上限に達しています";
    case ENAMETOOLONG:
        return "名前が長すぎます";
    case EIO:
        return "ディスクの読み書きに失敗しました";
    case ENOENT:
        return "見つかりません";
    case EXDEV:
        return "別のファイルシステムには移せません";
    case EMFILE:
    case ENFILE:
    case ENOMEM:
        return "システムの資源が足りません";
    default:
        return "システムのエラー (番号 " + std::to_string(error) + ")";
    }
}

// What stands in the way of the trash, in Japanese, after the place it names.
std::string TrashRefusalText(const TrashRefusal& r)
{
    const std::string where = r.where + ": ";
    switch (r.problem) {
    case TrashProblem::None:
        return {};
    case TrashProblem::SystemFileSystem:
        return where + "システム用のファイルシステムにはごみ箱がありません";
    case TrashProblem::Link:
        return where + "フォルダーではなくシンボリックリンクです";
    case TrashProblem::NotAFolder:
        return where + "フォルダーではなくファイルです";
    case TrashProblem::NotOwned:
        return where + "別のユーザーのフォルダーです";
    case TrashProblem::OthersMayWrite:
        return where + "他のユーザーも書き込めるフォルダーです";
    case TrashProblem::OtherFileSystem:
        return where + "ファイルとは別のファイルシステムにあります";
    case TrashProblem::SystemError:
        return where + SystemErrorText(r.error);
    }
    return {};
}

std::string NotMovedReasonText(const NotMoved& file)
{
    switch (file.reason) {
    case NotMovedReason::Changed:
        return kChangedReasonText;
    case NotMovedReason::Gone:
        return kGoneReasonText;
    case NotMovedReason::Refused:
        return kRefusedReasonText + (file.refusal.Refused() ? TrashRefusalText(file.refusal) : file.error);
    case NotMovedReason::ChangedInTrash:
        return kChangedInTrashReasonText + file.trashEntry;
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
    case RestoreStatus::LinkInPath:
        return "元の場所のフォルダーがリンクに置き換えられています: " + r.error;
    case RestoreStatus::EntryChanged:
        return "ごみ箱の項目が削除したときのファイルではありません";
    case RestoreStatus::FileInPath:
        return "元の場所のフォルダーがファイルに置き換えられています: " + r.error;
    case RestoreStatus::Failed:
        if (r.errorNumber != 0)
            return "移動できません: " + r.failedAt + ": " + SystemErrorText(r.errorNumber);
        return "移動できません: " + r.error;
    case RestoreStatus::Ambiguous:
        return "ごみ箱に同じ場所から削除された項目が複数あり、どれがこの削除のものか決められません";
    }
    return {};
}

}  // namespace

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
        text += VisibleControls(paths[i]) + "\n";
    if (paths.size() > kPathsShown)
        text += kOverflowNoteText;
    return text + kConfirmQuestionText;
}

std::string NotMovedMessageText(const std::vector<NotMoved>& notMoved)
{
    std::string text = kNotMovedText;
    for (std::size_t i = 0; i < notMoved.size() && i < kPathsShown; ++i)
        text += VisibleControls(notMoved[i].path) + " \uff08" + VisibleControls(NotMovedReasonText(notMoved[i])) +
                "\uff09\n";
    if (notMoved.size() > kPathsShown)
        text += MoreText(notMoved.size());
    return text;
}

namespace {

std::string LogFailureText(LogOutcome outcome)
{
    switch (outcome) {
    case LogOutcome::Written:
        return {};
    case LogOutcome::NotOpened:
        return "開けませんでした";
    case LogOutcome::Locked:
        return "他のプログラムが使用中でした";
    case LogOutcome::WriteFailed:
        return "書き込めませんでした";
    }
    return {};
}

}  // namespace

std::string LogNotWrittenText(const DeleteOutcome& outcome)
{
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "…" + string&&.
    const std::string fallback = FallbackDeletionLogPath();
    std::string text = kLogWriteFailedText;
    text += '\n';
    text += kDeletionLogName;
    text += ": ";
    text += LogFailureText(outcome.log);
    text += '\n';
    text += fallback.empty() ? std::string("~/.local/state/snapsift/DeleteLog.log") : fallback;
    text += ": ";
    text += LogFailureText(outcome.fallbackLog);
    return text;
}

std::string LogElsewhereText(const DeleteOutcome& outcome)
{
    return "削除ログ(DeleteLog.log)を" + LogFailureText(outcome.log) + "。\n削除の記録は次のファイルに書きました。\n" +
           VisibleControls(outcome.logPath);
}

std::string DeleteReportText(const DeleteOutcome& outcome)
{
    if (outcome.NotLogged())
        return LogNotWrittenText(outcome);
    if (outcome.stop == DeleteStop::NoRecord)
        return std::string(kRecordNotBegunText) + "\n" + VisibleControls(outcome.recordError);
    std::string text;
    if (outcome.BlockLost())
        text = std::string(kBlockLostText) + "\n" + VisibleControls(outcome.recordId);
    else if (outcome.LoggedElsewhere())
        text = LogElsewhereText(outcome);
    if (outcome.moved > 0 && !outcome.recordError.empty())
        text += (text.empty() ? "" : "\n\n") + std::string(kRecordNotFinishedText) + "\n" +
                VisibleControls(outcome.recordError);
    if (!outcome.notMoved.empty())
        text += (text.empty() ? "" : "\n\n") + NotMovedMessageText(outcome.notMoved);
    return text;
}

std::string RestoreNotThisDeletionText(const std::string& logPath)
{
    return "削除ログ(" + VisibleControls(logPath) +
           ")の最後の記録は、この画面で最後に行った削除ではありません。\nファイルは元に戻していません。";
}

std::string RestoreQuestionText(std::size_t fileCount)
{
    return "直前の削除でごみ箱に移動した " + std::to_string(fileCount) +
           " 個のファイルを元の場所に戻します。よろしいですか？";
}

std::string HistoryCountText(std::size_t moved, std::size_t inTrash)
{
    return std::to_string(moved) + " 個中 " + std::to_string(inTrash) + " 個がごみ箱にあります";
}

std::string TrashedStateText(TrashedState state)
{
    switch (state) {
    case TrashedState::InTrash:
        return "ごみ箱にあります";
    case TrashedState::Restored:
        return "元に戻しました";
    case TrashedState::Gone:
        return "ごみ箱にありません";
    }
    return {};
}

std::string HistoryRestoreQuestionText(std::size_t fileCount)
{
    return "選んだ " + std::to_string(fileCount) + " 個のファイルを元の場所に戻します。よろしいですか？";
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
        text += VisibleControls(left[i]->path) + " (" + VisibleControls(RestoreReasonText(*left[i])) + ")\n";
    if (left.size() > kPathsShown)
        text += MoreText(left.size());
    return text;
}

int ExtensionWidth(std::string_view utf8)
{
    int width = 0;
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80)
            width += 1;
        else if ((byte & 0xc0) != 0x80)
            width += 2;  // the first byte of a character outside ASCII
    }
    return width;
}

std::string HelpNotOpenedText(const std::string& path, bool noProgram)
{
    return std::string(noProgram ? "ヘルプのページを開くプログラムが登録されていません。"
                                 : "ヘルプのページが見つかりません。") +
           "\nファイル: " + VisibleControls(path);
}

std::string FileNotOpenedText(const std::string& path, bool noProgram, const std::string& error)
{
    std::string text =
        std::string(noProgram ? "このファイルを開くプログラムが登録されていません。" : "ファイルを開けませんでした。") +
        "\nファイル: " + VisibleControls(path);
    if (!noProgram && !error.empty()) {
        text += '\n';
        text += VisibleControls(error);
    }
    return text;
}

std::string FileOpenBusyText(const std::string& path)
{
    return "前に開いたファイルがまだ応答しないため、開けません。\nファイル: " + VisibleControls(path);
}

std::string LeftUnselectedText(int differing, int unreadable)
{
    std::string text;
    if (differing > 0)
        text += std::to_string(differing) + " 個のファイルは、新しいコピーと内容が異なるため選択しませんでした。";
    if (unreadable > 0) {
        if (!text.empty())
            text += "\n";
        text += std::to_string(unreadable) + " 個のファイルは、検索の後に変わったか読めないため選択しませんでした。";
    }
    return text;
}

std::string ProtectionCutText(std::size_t kept)
{
    return "保護するフォルダの設定が多すぎるため、最初の " + std::to_string(kept) + " 件だけを読み、残りは無視しました";
}

std::string BrokenProtectionText(const std::string& written)
{
    return "読めない保護フォルダの設定 (そのまま保持): " + written;
}

std::string ProtectedNotMovedText(const std::vector<std::string>& paths)
{
    std::string text = "保護されたフォルダにあるため、次のファイルは移動しません:\n";
    for (std::size_t i = 0; i < paths.size() && i < kPathsShown; ++i)
        text += paths[i] + "\n";
    if (paths.size() > kPathsShown)
        text += MoreText(paths.size());
    return text;
}

}  // namespace snapsift
