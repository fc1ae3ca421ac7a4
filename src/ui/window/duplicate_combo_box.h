// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractListModel>
#include <QComboBox>

namespace snapsift {

class DuplicateCombo;

// The combo box's entries as a Qt model over the core combo.
class DuplicateEntryModel final : public QAbstractListModel {
    Q_OBJECT
public:
    explicit DuplicateEntryModel(const DuplicateCombo& combo, QObject* parent = nullptr)
        : QAbstractListModel(parent), combo_(combo)
    { }
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    void Rebuilt();

private:
    const DuplicateCombo& combo_;
};

// An editable combo box that mirrors the core combo and says when its list is
// about to open, before it opens.
class DuplicateComboBox final : public QComboBox {
    Q_OBJECT
public:
    DuplicateComboBox(const DuplicateCombo& combo, QWidget* parent);
    // Shows the core combo's entries, selection and field text. Raises no
    // signal of the user's choice.
    void Mirror();
    void showPopup() override;

signals:
    void aboutToShowPopup();

private:
    const DuplicateCombo& combo_;
    DuplicateEntryModel* model_;
};

}  // namespace snapsift
