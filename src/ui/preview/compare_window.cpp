#include "ui/preview/compare_window.h"

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
#include <QScrollArea>
#include <QVBoxLayout>

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
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    row_ = new QWidget(scroll);
    rowLayout_ = new QHBoxLayout(row_);
    rowLayout_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    scroll->setWidget(row_);
    layout->addWidget(scroll, 1);

    connect(&selection_, &QItemSelectionModel::selectionChanged, this, &CompareWindow::UpdateMarks);
    connect(selection_.model(), &QAbstractItemModel::modelReset, this, &CompareWindow::Rebuild);
    connect(&loader_, &PreviewLoader::Ready, this, &CompareWindow::OnReady);
}

void CompareWindow::ShowName(const std::string& name)
{
    name_ = name;
    setWindowTitle(QString::fromUtf8(kCompareTitleText) + DisplayText(name));
    Rebuild();
    const int shown = std::clamp(CardCount(), 1, 4);
    resize(shown * (kPreviewSide + 24) + 40, kPreviewSide + 260);
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
        card.details->setText(DisplayText(view_.table.Folder(tableRow)) + '\n' +
                              DisplayText(SizeText(view_.table.Size(tableRow))) + '\n' +
                              DisplayText(DateText(view_.table.CreationTime(tableRow))));
        card.mark = WrappingLabel(card.frame);
        layout->addWidget(card.picture);
        layout->addWidget(card.pictureText);
        layout->addWidget(card.details);
        layout->addWidget(card.mark);
        layout->addStretch(1);
        rowLayout_->addWidget(card.frame);
        ShowPreviewIn(card.picture, card.pictureText, loader_.Find(card.path));
        card.picture->show();  // keeps its place while loading
        loader_.Request(card.path);
        cards_.push_back(std::move(card));
    }
    const int count = CardCount();
    title_->setText(DisplayText(name_) + QString::fromUtf8(kCompareCountSeparatorText) +
                    (count ? QString::fromUtf8(kCompareCountText).arg(count) : QString::fromUtf8(kCompareNoneText)));
    UpdateMarks();
}

bool CompareWindow::CardMarked(int card) const
{
    return selection_.isRowSelected(cards_.at(card).listRow, QModelIndex());
}

QString CompareWindow::CardText(int card) const
{
    const Card& c = cards_.at(card);
    return c.pictureText->text() + '\n' + c.details->text() + '\n' + c.mark->text();
}

void CompareWindow::UpdateMarks()
{
    for (int i = 0; i < CardCount(); ++i) {
        const bool marked = CardMarked(i);
        Card& card = cards_[i];
        card.mark->setText(marked ? QString::fromUtf8(kCompareMarkedText) : QString());
        // The frame alone is drawn in the selection colour; its texts keep theirs.
        card.frame->setStyleSheet(marked ? QStringLiteral("#card { border: 3px solid palette(highlight); }")
                                         : QStringLiteral("#card { border: 1px solid palette(mid); }"));
    }
}

void CompareWindow::OnReady(const QByteArray& path)
{
    const std::string bytes = path.toStdString();
    for (Card& card : cards_) {
        if (card.path == bytes) {
            ShowPreviewIn(card.picture, card.pictureText, loader_.Find(bytes));
            card.picture->show();
        }
    }
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
