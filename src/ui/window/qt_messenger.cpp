// SPDX-License-Identifier: MIT
#include "ui/window/qt_messenger.h"

#include "ui/display_text.h"
#include "ui/window_texts.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QStringList>

#include <algorithm>

namespace snapsift {

namespace {

// The widest a message's text may be: Qt's message box breaks lines anywhere,
// even inside a word, once it would be wider than about the screen's width
// less 480 pixels (all of it on a small screen, at most 1000); its margins
// come off that.
int WidestText(const QWidget* owner)
{
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const int screenWidth = screen ? screen->availableGeometry().width() : 1024;
    const int boxWidth = screenWidth <= 1024 ? screenWidth : std::min(screenWidth - 480, 1000);
    return std::max(200, boxWidth - 120);
}

// Where a line wider than `widest` breaks: after its last 、 or 。 that keeps
// the part before within `widest`; failing that (a long path), after its last
// "/" that does; failing that, after the last character that fits. Zero when
// not even one character fits.
qsizetype BreakPoint(const QString& line, const QFontMetrics& metrics, int widest)
{
    qsizetype punctuation = -1, slash = -1, fits = 0;
    for (qsizetype i = 0; i + 1 < line.size(); ++i) {
        if (metrics.horizontalAdvance(line.left(i + 1)) > widest)
            break;
        fits = i + 1;
        if (line[i] == QChar(0x3001) || line[i] == QChar(0x3002))
            punctuation = i + 1;
        else if (line[i] == QLatin1Char('/') && i > 0)
            slash = i + 1;
    }
    if (punctuation > 0)
        return punctuation;
    return slash > 0 ? slash : fits;
}

// Each line of `text` that is wider than `widest` broken where BreakPoint
// says, so that every line fits.
QString BreakLongLines(const QString& text, const QFontMetrics& metrics, int widest)
{
    QStringList lines;
    for (QString rest : text.split(QLatin1Char('\n'))) {
        while (metrics.horizontalAdvance(rest) > widest) {
            const qsizetype cut = BreakPoint(rest, metrics, widest);
            if (cut <= 0)
                break;
            lines << rest.left(cut);
            rest = rest.mid(cut);
        }
        lines << rest;
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

MessageAnswer QtMessenger::Show(const MessageRequest& request)
{
    QMessageBox box(owner_);
    box.setWindowTitle(DisplayText(request.caption));
    box.setTextFormat(Qt::PlainText);
    // Lines break where the text says so: the box is as wide as its longest
    // line where the screen allows; longer lines break at 、 and 。, a path
    // at a "/".
    const QFontMetrics metrics(box.font());
    const int widest = WidestText(owner_);
    const QString text = BreakLongLines(DisplayText(request.text), metrics, widest);
    box.setText(text);
    int longest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        longest = std::max(longest, metrics.horizontalAdvance(line));
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
        label->setMinimumWidth(std::min(longest + 2, widest));
    switch (request.icon) {
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    }
    if (request.buttons == MessageButtons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.button(QMessageBox::Cancel)->setText(QString::fromUtf8(kCancelButtonText));
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Ok) ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

}  // namespace snapsift
