#include "ui/window/qt_messenger.h"

#include "ui/display_text.h"
#include "ui/window_texts.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace snapsift {

MessageAnswer QtMessenger::Show(const MessageRequest& request)
{
    QMessageBox box(owner_);
    box.setWindowTitle(DisplayText(request.caption));
    box.setText(DisplayText(request.text));
    box.setTextFormat(Qt::PlainText);
    switch (request.icon) {
    case MessageIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MessageIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
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

} // namespace snapsift
