// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <string>

class QMenu;
class QTreeView;

namespace snapsift {

class CompareWindow;
class ContentChecker;
class PreviewLoader;
class PreviewTip;
class ResultView;

// Pictures for the result list: the preview tooltip of the row the pointer
// rests on, and the side-by-side window of one name's listed copies. Watches
// the list; never changes its rows or selection.
class ResultPreviews final : public QObject {
    Q_OBJECT
public:
    using OpenFile = std::function<void(const std::string& path)>;

    // The side-by-side window is a child window of `window`, so that it takes
    // input while `window` runs modally.
    ResultPreviews(QTreeView& list, const ResultView& view, OpenFile openFile, QWidget& window);
    ~ResultPreviews() override;

    // Adds the side-by-side entry, and a separator, to a context menu opened
    // at `globalPos` when that lies on the result list; by the keyboard
    // (`byKeyboard`), when the list has the focus, for its current row.
    void AddListEntries(QMenu& menu, QPoint globalPos, bool byKeyboard);
    // Opens (or raises) the side-by-side window for the name of list row `row`.
    void OpenCompareWindow(int row);
    // Shows the preview of the row at `viewportPos`, or hides it off the rows.
    void ShowTipAt(QPoint viewportPos);

    // Where the side-by-side window learns whether copies have the same bytes.
    void SetContentChecker(const ContentChecker* checker) { checker_ = checker; }
    // After a content check: the side-by-side window shows what it found.
    void ContentChecked();

    PreviewLoader& Loader() { return *loader_; }
    PreviewTip& Tip() { return *tip_; }
    CompareWindow* Compare() const;  // null until first opened

    static constexpr int kHoverDelayMs = 500;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int RowAt(QPoint globalPos, bool byKeyboard) const;

    QTreeView& list_;
    const ResultView& view_;
    OpenFile openFile_;
    QWidget& window_;
    PreviewLoader* loader_ = nullptr;
    PreviewTip* tip_ = nullptr;
    QWidget* viewport_ = nullptr;      // the list's, as it was when watching began
    QPointer<CompareWindow> compare_;  // a child window of `window`
    const ContentChecker* checker_ = nullptr;
    QTimer hover_;
    QPoint hoverPos_;
};

}  // namespace snapsift
