// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QFrame;
class QHBoxLayout;
class QItemSelectionModel;
class QLabel;
class QScrollArea;

namespace snapsift {

class ContentChecker;
class PreviewLoader;
class ResultView;

// A separate window with every listed copy of one file name side by side:
// picture, folder, size and date, the copies selected in the main list
// marked. It reads the main list's rows and selection and changes neither.
class CompareWindow final : public QWidget {
    Q_OBJECT
public:
    using OpenFile = std::function<void(const std::string& path)>;

    CompareWindow(const ResultView& view, QItemSelectionModel& selection, PreviewLoader& loader, OpenFile openFile,
                  QWidget* parent);

    // Shows the listed copies of `name` (raw bytes), in the list's order.
    void ShowName(const std::string& name);

    // Each card then says whether its bytes equal the newest copy's of its
    // size, as far as a content check has found; unchecked copies say nothing.
    void SetContentChecker(const ContentChecker* checker) { checker_ = checker; }
    void UpdateContentMarks();

    // What the window shows, card by card, for tests.
    int CardCount() const { return static_cast<int>(cards_.size()); }
    const std::string& CardPath(int card) const { return cards_.at(card).path; }
    bool CardMarked(int card) const;
    QLabel* CardPicture(int card) const { return cards_.at(card).picture; }
    QString CardText(int card) const;  // every line of the card, one per line

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;  // Esc closes the window

private:
    struct Card {
        int listRow = -1;
        std::string path;
        QFrame* frame = nullptr;
        QLabel* picture = nullptr;
        QLabel* pictureText = nullptr;
        QLabel* details = nullptr;
        QLabel* mark = nullptr;
        QLabel* content = nullptr;
    };

    void Rebuild();
    void FitOnScreen(bool centre);
    void UpdateMarks();
    void OnReady(const QByteArray& path);

    const ResultView& view_;
    QItemSelectionModel& selection_;
    PreviewLoader& loader_;
    OpenFile openFile_;
    std::string name_;
    QLabel* title_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* row_ = nullptr;
    QHBoxLayout* rowLayout_ = nullptr;
    std::vector<Card> cards_;
    const ContentChecker* checker_ = nullptr;
};

} // namespace snapsift
