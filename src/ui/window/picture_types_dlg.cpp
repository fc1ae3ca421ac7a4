// SPDX-License-Identifier: MIT
#include "ui/window/picture_types_dlg.h"

#include "ui/picture_type_texts.h"
#include "ui/window/dialog_units.h"
#include "ui/window/settings_file.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QSettings>
#include <QVBoxLayout>

#include <memory>

namespace snapsift {
namespace {

const QString kTypesGroup = QStringLiteral("types");
const QString kChosenKey = QStringLiteral("chosen");
// Longer than every name together many times over: anything longer was not
// written by this program and is not read.
constexpr qsizetype kMostChosenBytes = 1024;

}  // namespace

PictureTypesDlg::PictureTypesDlg(PictureKinds chosen, QWidget* parent) : QDialog(parent)
{
    setFont(parent ? parent->font() : DialogFont());
    setWindowTitle(QString::fromUtf8(kPictureTypesTitleText));
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(QString::fromUtf8(kPictureTypesNoteText), this);
    note->setTextFormat(Qt::PlainText);
    layout->addWidget(note);
    for (const PictureType& type : PictureTypes()) {
        auto* check = new QCheckBox(QString::fromStdString(PictureTypeLabel(type.kind)), this);
        check->setChecked(chosen.Has(type.kind));
        layout->addWidget(check);
        checks_.push_back(check);
    }
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(m_buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (!checks_.empty())
        checks_.front()->setFocus(Qt::OtherFocusReason);
}

PictureKinds PictureTypesDlg::Chosen() const
{
    PictureKinds kinds;
    for (std::size_t i = 0; i < checks_.size(); ++i) {
        if (checks_[i]->isChecked())
            kinds.Add(PictureTypes()[i].kind);
    }
    return kinds;
}

QCheckBox* PictureTypesDlg::CheckOf(PictureKind kind) const
{
    return checks_[static_cast<std::size_t>(kind)];
}

PictureKinds ReadChosenPictureTypes()
{
    const std::unique_ptr<QSettings> settings = OpenSettings();
    if (!settings)
        return {};
    const QByteArray names = settings->value(kTypesGroup + QLatin1Char('/') + kChosenKey).toByteArray();
    if (names.size() > kMostChosenBytes)
        return {};
    return ParsePictureKindNames(names.toStdString());
}

void WriteChosenPictureTypes(PictureKinds kinds)
{
    const std::unique_ptr<QSettings> settings = OpenSettings();
    if (!settings)
        return;  // a settings file that is not a plain file is left as it is
    settings->beginGroup(kTypesGroup);
    if (kinds.Empty())
        settings->remove(kChosenKey);
    else
        settings->setValue(kChosenKey, QString::fromStdString(PictureKindNames(kinds)));
}

}  // namespace snapsift
