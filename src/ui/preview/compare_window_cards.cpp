// SPDX-License-Identifier: MIT
// What each card of the side-by-side window shows: its picture, asked for
// while the card is in view, its file's facts and its selection mark.
#include "review/result_view.h"
#include "ui/display_text.h"
#include "ui/fact_texts.h"
#include "ui/preview/compare_window.h"
#include "ui/preview/picture_preview.h"
#include "ui/preview/preview_tip.h"
#include "ui/window_texts.h"

#include <QFrame>
#include <QItemSelectionModel>
#include <QLabel>

#include <algorithm>

namespace snapsift {

namespace {

QString PictureLine(const PicturePreview* preview)
{
    return preview ? PreviewText(*preview) : QString::fromUtf8(kPreviewLoadingText);
}

}  // namespace

void CompareWindow::ShowPicture(Card& card)
{
    const PicturePreview* preview = loader_.Find(card.path);
    ShowPreviewIn(card.widgets->picture, card.widgets->pictureText, preview, true);
    card.widgets->picture->show();  // keeps its place while loading
}

void CompareWindow::AskForPictures()
{
    if (!isVisible() || cards_.empty() || asking_)
        return;
    asking_ = true;
    const auto [first, last] = CardsInView();
    for (int i = first; i <= last && asked_.size() < kPicturesAtOnce; ++i) {
        Card& card = cards_[i];
        const QByteArray path = QByteArray::fromStdString(card.path);
        if (asked_.contains(path) || (card.asked && loader_.Find(card.path)))
            continue;
        card.asked = true;
        asked_.insert(path);
        loader_.Request(card.path);  // may answer at once
    }
    asking_ = false;
}

void CompareWindow::OnReady(const QByteArray& path)
{
    const bool ours = asked_.remove(path);
    const std::string bytes = path.toStdString();
    bool grown = false;
    for (Card& card : cards_) {
        if (card.widgets && card.path == bytes) {
            ShowPicture(card);
            grown = Measure(card) || grown;
        }
    }
    if (grown) {
        // A picture's line may take more room than the loading text did.
        for (int i = 0; i < CardCount(); ++i)
            Place(i);
        row_->resize(row_->width(), 2 * kRowMargin + cardHeight_);
        FitOnScreen(false);
    }
    if (ours)
        AskForPictures();
}

void CompareWindow::OnHelperFreed()
{
    // Pictures refused while every helper was stuck are asked for again.
    for (Card& card : cards_) {
        const PicturePreview* preview = card.widgets ? loader_.Find(card.path) : nullptr;
        if (preview && preview->failure == PreviewFailure::HelpersStuck)
            card.asked = false;
    }
    AskForPictures();
}

bool CompareWindow::CardMarked(int card) const
{
    return selection_.isRowSelected(cards_.at(card).listRow, QModelIndex());
}

QLabel* CompareWindow::CardPicture(int card) const
{
    const Card& c = cards_.at(card);
    return c.widgets ? c.widgets->picture : nullptr;
}

QString CompareWindow::CardText(int card) const
{
    const Card& c = cards_.at(card);
    const QString picture = c.widgets ? c.widgets->pictureText->text() : PictureLine(loader_.Find(c.path));
    const QString mark = CardMarked(card) ? QString::fromUtf8(kCompareMarkedText) : QString();
    return picture + '\n' + Details(c) + '\n' + c.content + '\n' + mark;
}

QString CompareWindow::Details(const Card& card) const
{
    // Made when asked for: thousands of cards would hold the window up.
    const FileTable& table = view_.table;
    return ShownText(table.Folder(card.tableRow)) + '\n' + DisplayText(SizeText(table.Size(card.tableRow))) + '\n' +
           DisplayText(DateText(table.CreationTime(card.tableRow)));
}

int CompareWindow::BuiltCards() const
{
    return static_cast<int>(
        std::count_if(cards_.begin(), cards_.end(), [](const Card& c) { return c.widgets != nullptr; }));
}

qint64 CompareWindow::PictureBytes() const
{
    qint64 bytes = 0;
    for (const Card& card : cards_) {
        if (card.widgets && !card.widgets->picture->pixmap().isNull()) {
            const QPixmap pixmap = card.widgets->picture->pixmap();
            bytes += static_cast<qint64>(pixmap.width()) * pixmap.height() * pixmap.depth() / 8;
        }
    }
    return bytes;
}

void CompareWindow::UpdateMarks()
{
    for (int i = 0; i < CardCount(); ++i) {
        if (cards_[i].widgets)
            ShowMark(cards_[i]);
    }
}

void CompareWindow::ShowMark(Card& card)
{
    const bool marked = selection_.isRowSelected(card.listRow, QModelIndex());
    card.widgets->mark->setText(marked ? QString::fromUtf8(kCompareMarkedText) : QString());
    // The frame alone is drawn in the selection colour; its texts keep theirs.
    // Both frames take the same room, so marking a card moves nothing.
    card.widgets->frame->setStyleSheet(marked
                                           ? QStringLiteral("#card { border: 3px solid palette(highlight); }")
                                           : QStringLiteral("#card { border: 1px solid palette(mid); margin: 2px; }"));
}

}  // namespace snapsift
