// SPDX-License-Identifier: MIT
#pragma once

#include <QSet>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QFrame;
class QItemSelectionModel;
class QLabel;
class QScrollArea;

namespace snapsift {

class ContentChecker;
class ContentProbe;
class PreviewLoader;
class ResultView;

// A separate window with every listed copy of one file name side by side:
// picture, folder, size and date, the copies selected in the main list
// marked. It reads the main list's rows and selection and changes neither.
// However many copies there are, only the cards in view and a few beside
// them have widgets, only cards in view ask for their pictures, a few at a
// time, and a card's picture goes with its widgets once it is out of the way.
class CompareWindow final : public QWidget {
    Q_OBJECT
public:
    using OpenFile = std::function<void(const std::string& path)>;

    CompareWindow(const ResultView& view, QItemSelectionModel& selection, PreviewLoader& loader, OpenFile openFile,
                  QWidget* parent);
    ~CompareWindow() override;

    // Shows the listed copies of `name` (raw bytes), in the list's order.
    void ShowName(const std::string& name);

    // Each card then says whether its bytes equal the newest copy's of its
    // size, as far as a content check has found; unchecked copies say
    // nothing. The copies are opened beside the window, and the marks
    // follow when the opens have answered.
    void SetContentChecker(const ContentChecker* checker) { checker_ = checker; }
    void UpdateContentMarks();

    // What the window shows, card by card, for tests.
    int CardCount() const { return static_cast<int>(cards_.size()); }
    const std::string& CardPath(int card) const { return cards_.at(card).path; }
    bool CardMarked(int card) const;
    QLabel* CardPicture(int card) const;  // null while the card has no widgets
    QString CardText(int card) const;     // every line of the card, one per line
    // What it holds and does now, for tests: cards with widgets, the bytes of
    // the pictures they show, pictures asked for and not yet answered, and
    // whether the copies are still being opened for the content marks.
    int BuiltCards() const;
    qint64 PictureBytes() const;
    int PicturesAsked() const { return static_cast<int>(asked_.size()); }
    bool OpeningCopies() const;
    void ScrollToCard(int card);

    static constexpr int kPicturesAtOnce = 3;
    static constexpr int kCardGap = 6;
    static constexpr int kRowMargin = 9;
    static constexpr int kProbePollMs = 30;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;  // Esc closes the window
    void showEvent(QShowEvent* event) override;

private:
    struct Widgets {
        QFrame* frame = nullptr;
        QLabel* picture = nullptr;
        QLabel* pictureText = nullptr;
        QLabel* details = nullptr;
        QLabel* content = nullptr;
        QLabel* mark = nullptr;
    };
    struct Card {
        int listRow = -1;
        int tableRow = -1;
        std::string path;
        QString content;
        bool asked = false;  // its picture was asked for since the window showed the name
        std::unique_ptr<Widgets> widgets;
    };

    void Rebuild();
    void FitOnScreen(bool centre);
    void UpdateView();
    void Build(int card);
    void Release(Card& card);
    void Place(int card);
    bool Measure(const Card& card);
    void AskForPictures();
    void ShowPicture(Card& card);
    void ShowMark(Card& card);
    QString Details(const Card& card) const;
    void UpdateMarks();
    void OnReady(const QByteArray& path);
    void OnHelperFreed();
    void StartProbe();
    void OnProbePoll();
    void ApplyProbe();
    std::pair<int, int> CardsInView() const;

    const ResultView& view_;
    QItemSelectionModel& selection_;
    PreviewLoader& loader_;
    OpenFile openFile_;
    std::string name_;
    QLabel* title_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* row_ = nullptr;
    std::vector<Card> cards_;
    int cardWidth_ = 0;
    int cardHeight_ = 0;
    QSet<QByteArray> asked_;  // pictures asked for and not yet answered
    bool asking_ = false;
    const ContentChecker* checker_ = nullptr;
    std::unique_ptr<ContentProbe> probe_;
    bool probeAgain_ = false;  // a newer probe waits for the one given up to end
    std::size_t probeApplied_ = 0;
    QTimer probePoll_;
};

}  // namespace snapsift
