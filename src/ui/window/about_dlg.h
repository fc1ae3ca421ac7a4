// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

namespace snapsift {

// The version box: the icon, the program's name and version, its makers, OK
// and a link, named by the page's title, to the help page that ships with the
// program.
class CAboutDlg final : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(std::function<void()> openHelp, QWidget* parent);
    void OnSupportLink();

    QLabel* m_iconLabel = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_supportButton = nullptr;

private:
    std::function<void()> openHelp_;
};

}  // namespace snapsift
