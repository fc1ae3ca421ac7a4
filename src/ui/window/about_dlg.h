#pragma once

#include <QDialog>

#include <functional>
#include <string>

class QLabel;
class QPushButton;

namespace snapsift {

// The version box: the icon, the program's name and version, its makers, OK
// and a button that opens the help page that ships with the program.
class CAboutDlg final : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(std::function<void(const std::string&)> openFile, QWidget* parent);
    void OnSupportLink();

    QLabel* m_iconLabel = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_supportButton = nullptr;

private:
    std::function<void(const std::string&)> openFile_;
};

} // namespace snapsift
