// SPDX-License-Identifier: MIT
#include "ui/window/duplicate_combo_box.h"

#include "review/duplicate_combo.h"
#include "ui/display_text.h"
#include "ui/fact_texts.h"

#include <QLineEdit>
#include <QListView>
#include <QSignalBlocker>

namespace snapsift {

int DuplicateEntryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : combo_.GetCount();
}

QVariant DuplicateEntryModel::data(const QModelIndex& index, int role) const
{
    if ((role != Qt::DisplayRole && role != Qt::EditRole) || !index.isValid() || index.row() >= combo_.GetCount())
        return {};
    return ShownText(ComboEntryText(combo_.GetLBText(index.row())));
}

void DuplicateEntryModel::Rebuilt()
{
    beginResetModel();
    endResetModel();
}

DuplicateComboBox::DuplicateComboBox(const DuplicateCombo& combo, QWidget* parent)
    : QComboBox(parent), combo_(combo), model_(new DuplicateEntryModel(combo, this))
{
    setEditable(true);
    // Text typed into the field is never read: neither Enter nor leaving the
    // field chooses the entry it names.
    disconnect(lineEdit(), &QLineEdit::returnPressed, this, nullptr);
    disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setModel(model_);
    auto* list = new QListView(this);
    list->setUniformItemSizes(true);
    setView(list);
    setMaxVisibleItems(8);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
}

void DuplicateComboBox::Mirror()
{
    const QSignalBlocker blocker(this);
    model_->Rebuilt();
    setCurrentIndex(combo_.GetCurSel());
    lineEdit()->setText(ShownText(ComboEntryText(combo_.Field())));
    lineEdit()->setCursorPosition(0);
}

void DuplicateComboBox::showPopup()
{
    emit aboutToShowPopup();
    QComboBox::showPopup();
}

} // namespace snapsift
