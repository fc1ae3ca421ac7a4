// SPDX-License-Identifier: MIT
#include "ui/preview/compare_window.h"

#include "review/result_view.h"
#include "ui/display_text.h"
#include "ui/fact_texts.h"
#include "ui/preview/content_probe.h"
#include "ui/preview/picture_preview.h"
#include "ui/preview/preview_tip.h"
#include "ui/window_texts.h"

#include <QAbstractItemModel>
#include <QEvent>
#include <QFrame>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
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

}  // namespace

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
    // The cards stand at places of their own in a row as wide as all of them.
    scroll_->setWidgetResizable(false);
    row_ = new QWidget(scroll_);
    scroll_->setWidget(row_);
    layout->addWidget(scroll_, 1);
    scroll_->viewport()->installEventFilter(this);
    connect(scroll_->horizontalScrollBar(), &QScrollBar::valueChanged, this, &CompareWindow::UpdateView);

    probePoll_.setInterval(kProbePollMs);
    connect(&probePoll_, &QTimer::timeout, this, &CompareWindow::OnProbePoll);
    connect(&selection_, &QItemSelectionModel::selectionChanged, this, &CompareWindow::UpdateMarks);
    connect(selection_.model(), &QAbstractItemModel::modelReset, this, &CompareWindow::Rebuild);
    connect(&loader_, &PreviewLoader::Ready, this, &CompareWindow::OnReady);
    connect(&loader_, &PreviewLoader::HelperFreed, this, &CompareWindow::OnHelperFreed);
}

CompareWindow::~CompareWindow() = default;

void CompareWindow::ShowName(const std::string& name)
{
    name_ = name;
    setWindowTitle(QString::fromUtf8(kCompareTitleText) + ShownText(name));
    Rebuild();
    FitOnScreen(!isVisible());
    UpdateView();
}

void CompareWindow::FitOnScreen(bool centre)
{
    // As large as the cards need, no larger than the screen that holds the
    // main window and wholly on that screen: centred over the main window
    // when it opens, grown where it stands when a card needs more room.
    layout()->activate();
    const QSize cards = row_->size();
    const QMargins margins = layout()->contentsMargins();
    const int frame = 2 * scroll_->frameWidth();
    int width = margins.left() + cards.width() + frame + margins.right();
    int height =
        margins.top() + title_->sizeHint().height() + layout()->spacing() + cards.height() + frame + margins.bottom();
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
        Release(card);
    cards_.clear();
    asked_.clear();
    const ResultList& list = view_.list;
    for (int row = 0; row < list.GetItemCount(); ++row) {
        const int tableRow = list.TableRow(row);
        if (view_.table.Name(tableRow) != name_)
            continue;
        Card card;
        card.listRow = row;
        card.tableRow = tableRow;
        card.path = view_.table.Path(tableRow);
        cards_.push_back(std::move(card));
    }
    const int count = CardCount();
    title_->setText(ShownText(name_) + QString::fromUtf8(kCompareCountSeparatorText) +
                    (count ? QString::fromUtf8(kCompareCountText).arg(count) : QString::fromUtf8(kCompareNoneText)));
    // The first card gives every card's width and a first height.
    cardWidth_ = cardHeight_ = 0;
    if (count > 0) {
        Build(0);
        cardWidth_ = cards_[0].widgets->frame->sizeHint().width();
        Measure(cards_[0]);
    }
    const int pitch = cardWidth_ + kCardGap;
    row_->resize(count ? 2 * kRowMargin + count * pitch - kCardGap : 0, count ? 2 * kRowMargin + cardHeight_ : 0);
    if (count > 0)
        Place(0);
    UpdateContentMarks();
}

std::pair<int, int> CompareWindow::CardsInView() const
{
    const int pitch = std::max(1, cardWidth_ + kCardGap);
    const int left = scroll_->horizontalScrollBar()->value();
    const int last = CardCount() - 1;
    return {std::clamp((left - kRowMargin) / pitch, 0, last),
            std::clamp((left + scroll_->viewport()->width() - kRowMargin) / pitch, 0, last)};
}

void CompareWindow::UpdateView()
{
    if (cards_.empty())
        return;
    const auto [first, last] = CardsInView();
    const int shown = last - first + 1;
    // Widgets for the cards in view and one on either side; a card about a
    // view's width away from it lets its widgets and picture go.
    for (int i = 0; i < CardCount(); ++i) {
        if (cards_[i].widgets && (i < first - shown - 1 || i > last + shown + 1))
            Release(cards_[i]);
    }
    bool grown = false;
    for (int i = std::max(0, first - 1); i <= std::min(CardCount() - 1, last + 1); ++i) {
        if (!cards_[i].widgets) {
            Build(i);
            grown = Measure(cards_[i]) || grown;
            Place(i);
        }
    }
    if (grown) {
        for (int i = 0; i < CardCount(); ++i) {
            if (cards_[i].widgets)
                Place(i);
        }
        row_->resize(row_->width(), 2 * kRowMargin + cardHeight_);
        FitOnScreen(false);
    }
    AskForPictures();
}

void CompareWindow::Build(int index)
{
    Card& card = cards_[index];
    auto w = std::make_unique<Widgets>();
    w->frame = new QFrame(row_);
    w->frame->setObjectName(QStringLiteral("card"));
    auto* layout = new QVBoxLayout(w->frame);
    w->picture = new QLabel(w->frame);
    w->picture->setFixedSize(kPreviewSide, kPreviewSide);
    w->picture->setAlignment(Qt::AlignCenter);
    w->picture->setToolTip(QString::fromUtf8(kCompareOpenTipText));
    w->picture->installEventFilter(this);
    w->pictureText = WrappingLabel(w->frame);
    w->details = WrappingLabel(w->frame);
    w->details->setText(Details(card));
    w->mark = WrappingLabel(w->frame);
    w->content = WrappingLabel(w->frame);
    w->content->setText(card.content);
    layout->addWidget(w->picture);
    layout->addWidget(w->pictureText);
    layout->addWidget(w->details);
    layout->addWidget(w->content);
    layout->addWidget(w->mark);
    layout->addStretch(1);
    card.widgets = std::move(w);
    ShowPicture(card);
    ShowMark(card);
    card.widgets->frame->show();
}

void CompareWindow::Release(Card& card)
{
    if (!card.widgets)
        return;
    delete card.widgets->frame;
    card.widgets.reset();
}

void CompareWindow::Place(int index)
{
    const Card& card = cards_[index];
    if (card.widgets)
        card.widgets->frame->setGeometry(kRowMargin + index * (cardWidth_ + kCardGap), kRowMargin, cardWidth_,
                                         cardHeight_);
}

bool CompareWindow::Measure(const Card& card)
{
    // Every card is as tall as the tallest seen so far: a row of equal cards.
    QFrame* frame = card.widgets->frame;
    const int need = frame->hasHeightForWidth() ? frame->heightForWidth(cardWidth_) : frame->sizeHint().height();
    if (need <= cardHeight_)
        return false;
    cardHeight_ = need;
    return true;
}

void CompareWindow::ScrollToCard(int card)
{
    scroll_->horizontalScrollBar()->setValue(kRowMargin + card * (cardWidth_ + kCardGap));
    UpdateView();
}

void CompareWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    UpdateView();
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
    if (watched == scroll_->viewport() && event->type() == QEvent::Resize) {
        QMetaObject::invokeMethod(this, &CompareWindow::UpdateView, Qt::QueuedConnection);
    } else if (event->type() == QEvent::MouseButtonDblClick) {
        for (const Card& card : cards_) {
            if (card.widgets && card.widgets->picture == watched) {
                openFile_(card.path);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace snapsift
