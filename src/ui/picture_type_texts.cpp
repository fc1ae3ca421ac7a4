// SPDX-License-Identifier: MIT
#include "ui/picture_type_texts.h"

namespace snapsift {

const char* PictureTypeTitle(PictureKind kind)
{
    switch (kind) {
    case PictureKind::Png:
        return "PNG";
    case PictureKind::WebP:
        return "WebP";
    case PictureKind::Heif:
        return "HEIC/HEIF";
    case PictureKind::Avif:
        return "AVIF";
    case PictureKind::Tiff:
        return "TIFF";
    case PictureKind::JpegXl:
        return "JPEG XL";
    case PictureKind::Raw:
        return "RAW";
    case PictureKind::JpegOther:
        return "JPEGのほかの拡張子";
    }
    return "";
}

std::string PictureTypeLabel(PictureKind kind)
{
    std::string label = PictureTypeTitle(kind);
    label += " ( ";
    bool first = true;
    for (const std::string_view extension : PictureTypeOf(kind).extensions) {
        if (!first)
            label += ", ";
        label += extension;
        first = false;
    }
    label += " )";
    return label;
}

const char* const kChoosePictureTypesMenuText = "画像の種類を選ぶ…";
const char* const kPictureTypesTitleText = "画像の種類を選ぶ";
const char* const kPictureTypesNoteText = "JPEG、BMP、GIF とその他拡張子のあとに検索する種類:";

std::string ChosenTypesLineText(PictureKinds kinds)
{
    std::string line;
    for (const PictureKind kind : kinds.InOrder()) {
        line += line.empty() ? "＋ " : ", ";
        line += PictureTypeTitle(kind);
    }
    return line;
}

std::string ChosenTypesTipText(PictureKinds kinds)
{
    if (kinds.Empty())
        return {};
    std::string tip = "ほかに検索する画像の種類:";
    for (const PictureKind kind : kinds.InOrder()) {
        tip += '\n';
        tip += PictureTypeLabel(kind);
    }
    return tip;
}

}  // namespace snapsift
