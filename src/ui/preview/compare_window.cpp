// SPDX-License-Identifier: MIT
#include "ui/preview/compare_window.h"

#include "review/content_check.h"
#include "review/result_view.h"
#include "ui/display_text.h"
#include "ui/fact_texts.h"
#include "ui/preview/picture_preview.h"
#include "ui/preview/preview_tip.h"
#include "ui/window_texts.h"

#include <QAbstractItemModel>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QKeyEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace snapsift {

namespace {

QLabel* WrappingLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFixedWidth(kPreviewSide);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

CompareWindow::CompareWindow(const ResultView& view, QItemSelectionModel& selection, PreviewLoader& loader,
                             OpenFile openFile, QWidget* parent)
    : QWidget(parent, Qt::Window), view_(view), selection_(selection), loader_(loader), openFile_(std::move(openFile))
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    title_ = new QLabel(this);
    title_->setTextFormat(Qt::PlainText);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    layout->addWidget(title_);
    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    row_ = new QWidget(scroll_);
    rowLayout_ = new QHBoxLayout(row_);
    rowLayout_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    scroll_->setWidget(row_);
    layout->addWidget(scroll_, 1);

    connect(&selection_, &QItemSelectionModel::selectionChanged, this, &CompareWindow::UpdateMarks);
    connect(selection_.model(), &QAbstractItemModel::modelReset, this, &CompareWindow::Rebuild);
    connect(&loader_, &PreviewLoader::Ready, this, &CompareWindow::OnReady);
}

void CompareWindow::ShowName(const std::string& name)
{
    name_ = name;
    setWindowTitle(QString::fromUtf8(kCompareTitleText) + ShownText(name));
    Rebuild();
    FitOnScreen(!isVisible());
}

void CompareWindow::FitOnScreen(bool centre)
{
    // As large as the cards need, no larger than the screen that holds the
    // main window and wholly on that screen: centred over the main window
    // when it opens, grown where it stands when a card needs more room.
    layout()->activate();
    const QSize cards = row_->sizeHint();
    const QMargins margins = layout()->contentsMargins();
    const int frame = 2 * scroll_->frameWidth();
    int width = margins.left() + cards.width() + frame + margins.right();
    int height = margins.top() + title_->sizeHint().height() + layout()->spacing() + cards.height() + frame +
                 margins.bottom();
    if (!centre && width <= this->width() && height <= this->height())
        return;
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    const QScreen* screen = owner ? owner->screen() : this->screen();
    // The desktop's frame around a window, as it has drawn the main window's.
    const QMargins decoration = owner ? QMargins(owner->geometry().left() - owner->frameGeometry().left(),
                                                 owner->geometry().top() - owner->frameGeometry().top(),
                                                 owner->frameGeometry().right() - owner->geometry().right(),
                                                 owner->frameGeometry().bottom() - owner->geometry().bottom())
                                      : QMargins();
    const QRect room = screen ? screen->availableGeometry().marginsRemoved(decoration) : QRect(0, 0, width, height);
    if (!centre) {
        width = std::max(width, this->width());
        height = std::max(height, this->height());
    }
    if (width > room.width()) {
        width = room.width();
        height += scroll_->horizontalScrollBar()->sizeHint().height();
    }
    if (height > room.height()) {
        height = room.height();
        width = std::min(room.width(), width + scroll_->verticalScrollBar()->sizeHint().width());
    }
    QRect placed(0, 0, width, height);
    if (centre)
        placed.moveCenter(owner ? owner->geometry().center() : room.center());
    else
        placed.moveTopLeft(geometry().topLeft());
    placed.moveLeft(std::clamp(placed.left(), room.left(), room.right() + 1 - width));
    placed.moveTop(std::clamp(placed.top(), room.top(), room.bottom() + 1 - height));
    resize(placed.size());
    move(placed.topLeft() - QPoint(decoration.left(), decoration.top()));
}

void CompareWindow::Rebuild()
{
    for (Card& card : cards_)
        delete card.frame;
    cards_.clear();
    const ResultList& list = view_.list;
    for (int row = 0; row < list.GetItemCount(); ++row) {
        const int tableRow = list.TableRow(row);
        if (view_.table.Name(tableRow) != name_)
            continue;
        Card card;
        card.listRow = row;
        card.path = view_.table.Path(tableRow);
        card.frame = new QFrame(row_);
        card.frame->setObjectName(QStringLiteral("card"));
        auto* layout = new QVBoxLayout(card.frame);
        card.picture = new QLabel(card.frame);
        card.picture->setFixedSize(kPreviewSide, kPreviewSide);
        card.picture->setAlignment(Qt::AlignCenter);
        card.picture->setToolTip(QString::fromUtf8(kCompareOpenTipText));
        card.picture->installEventFilter(this);
        card.pictureText = WrappingLabel(card.frame);
        card.details = WrappingLabel(card.frame);
        card.details->setText(ShownText(view_.table.Folder(tableRow)) + '\n' +
                              DisplayText(SizeText(view_.table.Size(tableRow))) + '\n' +
                              DisplayText(DateText(view_.table.CreationTime(tableRow))));
        card.mark = WrappingLabel(card.frame);
        card.content = WrappingLabel(card.frame);
        layout->addWidget(card.picture);
        layout->addWidget(card.pictureText);
        layout->addWidget(card.details);
        layout->addWidget(card.content);
        layout->addWidget(card.mark);
        layout->addStretch(1);
        rowLayout_->addWidget(card.frame);
        ShowPreviewIn(card.picture, card.pictureText, loader_.Find(card.path), true);
        card.picture->show();  // keeps its place while loading
        loader_.Request(card.path);
        cards_.push_back(std::move(card));
    }
    const int count = CardCount();
    title_->setText(ShownText(name_) + QString::fromUtf8(kCompareCountSeparatorText) +
                    (count ? QString::fromUtf8(kCompareCountText).arg(count) : QString::fromUtf8(kCompareNoneText)));
    UpdateMarks();
    UpdateContentMarks();
}

void CompareWindow::UpdateContentMarks()
{
    const FileTable& table = view_.table;
    for (Card& card : cards_) {
        const int row = view_.list.TableRow(card.listRow);
        // The newest copy of the same size (the first of equal ones).
        int newest = -1;
        for (const Card& other : cards_) {
            const int o = view_.list.TableRow(other.listRow);
            if (table.Size(o) == table.Size(row) && (newest < 0 || table.CreationTime(o) > table.CreationTime(newest)))
                newest = o;
        }
        std::optional<bool> same;
        if (checker_ && newest != row)
            same = checker_->KnownEqual(table, row, newest);
        card.content->setText(!same ? QString()
                                    : QString::fromUtf8(*same ? kCompareSameText : kCompareDifferentText));
    }
}

bool CompareWindow::CardMarked(int card) const
{
    return selection_.isRowSelected(cards_.at(card).listRow, QModelIndex());
}

QString CompareWindow::CardText(int card) const
{
    const Card& c = cards_.at(card);
    return c.pictureText->text() + '\n' + c.details->text() + '\n' + c.content->text() + '\n' + c.mark->text();
}

void CompareWindow::UpdateMarks()
{
    for (int i = 0; i < CardCount(); ++i) {
        const bool marked = CardMarked(i);
        Card& card = cards_[i];
        card.mark->setText(marked ? QString::fromUtf8(kCompareMarkedText) : QString());
        // The frame alone is drawn in the selection colour; its texts keep theirs.
        // Both frames take the same room, so marking a card moves nothing.
        card.frame->setStyleSheet(marked ? QStringLiteral("#card { border: 3px solid palette(highlight); }")
                                         : QStringLiteral("#card { border: 1px solid palette(mid); margin: 2px; }"));
    }
}

void CompareWindow::OnReady(const QByteArray& path)
{
    const std::string bytes = path.toStdString();
    for (Card& card : cards_) {
        if (card.path == bytes) {
            ShowPreviewIn(card.picture, card.pictureText, loader_.Find(bytes), true);
            card.picture->show();
        }
    }
    // A picture's line may take more room than the loading text did.
    FitOnScreen(false);
}

void CompareWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool CompareWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        for (const Card& card : cards_) {
            if (card.picture == watched) {
                openFile_(card.path);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace snapsift
