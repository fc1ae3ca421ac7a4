// SPDX-License-Identifier: MIT
#pragma once

#include "scan/picture_types.h"

#include <QDialog>

#include <vector>

class QCheckBox;
class QDialogButtonBox;

namespace snapsift {

// The small dialog that chooses the further picture types: one check box per
// type with its endings, OK and Cancel.
class PictureTypesDlg final : public QDialog {
    Q_OBJECT
public:
    PictureTypesDlg(PictureKinds chosen, QWidget* parent);

    // The types ticked now.
    PictureKinds Chosen() const;

    QCheckBox* CheckOf(PictureKind kind) const;
    QDialogButtonBox* m_buttons = nullptr;

private:
    std::vector<QCheckBox*> checks_;  // by PictureTypes() order
};

// The chosen types as the settings file remembers them (group "types");
// none when nothing is remembered. Unknown names are left out.
PictureKinds ReadChosenPictureTypes();
void WriteChosenPictureTypes(PictureKinds kinds);

}  // namespace snapsift
