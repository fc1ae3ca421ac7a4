// SPDX-License-Identifier: MIT
#include "ui/window/about_dlg.h"

#include "ui/app_resources.h"
#include "ui/window/dialog_units.h"
#include "ui/window_texts.h"

#include <QLabel>
#include <QPushButton>

namespace snapsift {

CAboutDlg::CAboutDlg(std::function<void()> openHelp, QWidget* parent) : QDialog(parent), openHelp_(std::move(openHelp))
{
    setFont(parent ? parent->font() : DialogFont());
    const DialogUnits du(font());
    setWindowTitle(QString::fromUtf8(kAboutTitleText));
    setFixedSize(du.X(219), du.Y(47));

    m_iconLabel = new QLabel(this);
    m_iconLabel->setPixmap(ProgramIcon().pixmap(32, 32));
    m_iconLabel->setGeometry(du.Rect(7, 7, 20, 21));
    m_iconLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* name = new QLabel(QString::fromUtf8(kAboutNameText), this);
    name->setTextFormat(Qt::PlainText);
    name->setGeometry(du.Rect(32, 7, 169, 8));

    auto* maker = new QLabel(QString::fromUtf8(kAboutCopyrightText), this);
    maker->setTextFormat(Qt::PlainText);
    maker->setGeometry(du.Rect(33, 19, 119, 8));

    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_okButton->setGeometry(du.Rect(180, 17, 32, 11));
    m_okButton->setDefault(true);

    m_supportButton = new QPushButton(QString::fromUtf8(kAboutHelpText), this);
    m_supportButton->setFlat(true);
    m_supportButton->setAutoDefault(true);
    // Drawn as a link: the link colour, underlined, a pointing hand.
    QFont linkFont = m_supportButton->font();
    linkFont.setUnderline(true);
    m_supportButton->setFont(linkFont);
    QPalette linkColours = m_supportButton->palette();
    linkColours.setColor(QPalette::ButtonText, linkColours.color(QPalette::Link));
    m_supportButton->setPalette(linkColours);
    m_supportButton->setCursor(Qt::PointingHandCursor);
    m_supportButton->setGeometry(du.Rect(7, 30, 205, 11));

    setTabOrder(m_okButton, m_supportButton);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_supportButton, &QPushButton::clicked, this, &CAboutDlg::OnSupportLink);
    m_okButton->setFocus(Qt::OtherFocusReason);
}

void CAboutDlg::OnSupportLink()
{
    // The box stays open whether or not the page opens.
    openHelp_();
}

}  // namespace snapsift
