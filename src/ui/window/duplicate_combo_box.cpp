// SPDX-License-Identifier: MIT
#include "ui/window/duplicate_combo_box.h"

#include "review/duplicate_combo.h"
#include "ui/display_text.h"
#include "ui/fact_texts.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLineEdit>
#include <QListView>
#include <QSignalBlocker>

namespace snapsift {

namespace {

// Read out under its own name, with the chosen entry as its value: Qt's own
// reading of a combo box names it by the chosen entry on this platform.
class DuplicateComboAccessible final : public QAccessibleWidget {
public:
    explicit DuplicateComboAccessible(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) { }
    QString text(QAccessible::Text t) const override
    {
        const auto* box = static_cast<const QComboBox*>(widget());
        if (t == QAccessible::Name)
            return box->accessibleName();
        if (t == QAccessible::Value)
            return box->currentText();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override
    {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override
    {
        if (action == showMenuAction())
            static_cast<QComboBox*>(widget())->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* DuplicateComboAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("snapsift::DuplicateComboBox") && object && object->isWidgetType())
        return new DuplicateComboAccessible(static_cast<QComboBox*>(object));
    return nullptr;
}

}  // namespace

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
    static const bool accessible = (QAccessible::installFactory(DuplicateComboAccessibleFactory), true);
    (void)accessible;
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

}  // namespace snapsift
