// SPDX-License-Identifier: MIT
#include "ui/preview/preview_tip.h"

#include "ui/preview/picture_preview.h"
#include "ui/window_texts.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QToolTip>
#include <QVBoxLayout>

namespace snapsift {

void ShowPreviewIn(QLabel* picture, QLabel* text, const PicturePreview* preview, bool withFacts)
{
    if (preview && preview->Ok()) {
        picture->setPixmap(QPixmap::fromImage(preview->image));
        picture->show();
    } else {
        picture->clear();
        picture->hide();
    }
    QString line = preview ? PreviewText(*preview) : QString::fromUtf8(kPreviewLoadingText);
    const QString facts = preview && withFacts ? FactsText(*preview) : QString();
    if (!facts.isEmpty())
        line += '\n' + facts;
    text->setText(line);
}

PreviewTip::PreviewTip(PreviewLoader& loader, QWidget* parent)
    : QFrame(parent, Qt::ToolTip | Qt::BypassGraphicsProxyWidget), loader_(loader)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setPalette(QToolTip::palette());
    setFont(QToolTip::font());
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_picture = new QLabel(this);
    m_picture->setAlignment(Qt::AlignCenter);
    m_text = new QLabel(this);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setTextFormat(Qt::PlainText);
    layout->addWidget(m_picture, 0, Qt::AlignHCenter);
    layout->addWidget(m_text, 0, Qt::AlignHCenter);
    connect(&loader_, &PreviewLoader::Ready, this, &PreviewTip::OnReady);
    // Refused while every helper was stuck: asked again once one has gone.
    connect(&loader_, &PreviewLoader::HelperFreed, this, [this] {
        const PicturePreview* shown = isVisible() && !path_.empty() ? loader_.Find(path_) : nullptr;
        if (shown && shown->failure == PreviewFailure::HelpersStuck)
            loader_.Request(path_);
    });
}

void PreviewTip::ShowFor(const std::string& path, QPoint globalPos)
{
    const bool same = isVisible() && path == path_;
    path_ = path;
    anchor_ = globalPos;
    loader_.Request(path);
    if (!same)
        Fill(loader_.Find(path));
    show();
    raise();
}

void PreviewTip::Dismiss()
{
    path_.clear();
    hide();
}

void PreviewTip::OnReady(const QByteArray& path)
{
    if (isVisible() && path.toStdString() == path_)
        Fill(loader_.Find(path_));
}

void PreviewTip::Fill(const PicturePreview* preview)
{
    ShowPreviewIn(m_picture, m_text, preview);
    adjustSize();
    Place();
}

void PreviewTip::Place()
{
    // Below and right of the pointer, kept on the screen.
    QPoint pos = anchor_ + QPoint(16, 20);
    if (const QScreen* screen = QGuiApplication::screenAt(anchor_)) {
        const QRect area = screen->availableGeometry();
        if (pos.x() + width() > area.right())
            pos.setX(std::max(area.left(), anchor_.x() - width() - 4));
        if (pos.y() + height() > area.bottom())
            pos.setY(std::max(area.top(), anchor_.y() - height() - 4));
    }
    move(pos);
}

}  // namespace snapsift
