// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractTableModel>
#include <QTreeView>

namespace snapsift {

class ResultView;

// The result list as Qt views see it: the rows of the core result list in the
// columns ResultColumn names, texts made only when a row is painted.
class ResultModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ResultModel(const ResultView& view, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Tells the views that the core list has been rebuilt.
    void Rebuilt();

private:
    const ResultView& view_;
};

// The result list's view. With the keyboard focus it shows it as the other
// controls do: a frame around the current row, the first one when none is
// current yet, or around the empty list.
class ResultListView final : public QTreeView {
    Q_OBJECT
public:
    using QTreeView::QTreeView;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace snapsift
