// SPDX-License-Identifier: MIT
#pragma once

// What the window shows of the further picture types. UTF-8.

#include "scan/picture_types.h"

#include <string>

namespace snapsift {

// The type's title: "PNG", "HEIC/HEIF", "JPEG XL" and so on.
const char* PictureTypeTitle(PictureKind kind);
// Its check box: the title and its endings, in the four types' manner:
// "HEIC/HEIF ( heic, heif )".
std::string PictureTypeLabel(PictureKind kind);

extern const char* const kChoosePictureTypesMenuText;  // "画像の種類を選ぶ…"
extern const char* const kPictureTypesTitleText;       // the dialog's title
extern const char* const kPictureTypesNoteText;        // what the dialog's types are for

// The short line under the extension box while types are chosen: their
// titles after a plus sign. Empty when none is.
std::string ChosenTypesLineText(PictureKinds kinds);
// The tooltip of the extension box, its check box and that line: the chosen
// types, one a line, with their endings. Empty when none is.
std::string ChosenTypesTipText(PictureKinds kinds);

}  // namespace snapsift
