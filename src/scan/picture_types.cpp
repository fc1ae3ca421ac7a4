// SPDX-License-Identifier: MIT
#include "scan/picture_types.h"

#include "platform/name_order.h"

#include <algorithm>
#include <array>

namespace snapsift {
namespace {

constexpr std::string_view kPng[] = {"png"};
constexpr std::string_view kWebP[] = {"webp"};
constexpr std::string_view kHeif[] = {"heic", "heif"};
constexpr std::string_view kAvif[] = {"avif"};
constexpr std::string_view kTiff[] = {"tif", "tiff"};
constexpr std::string_view kJpegXl[] = {"jxl"};
// The raw files of the usual cameras: Canon, Nikon, Sony, Adobe's DNG,
// Olympus, Panasonic, Fujifilm, Pentax, Samsung.
constexpr std::string_view kRaw[] = {"cr2", "cr3", "nef", "nrw", "arw", "dng", "orf", "rw2", "raf", "pef", "srw"};
constexpr std::string_view kJpegOther[] = {"jpeg", "jpe", "jfif"};

constexpr std::array kTypes = {
    PictureType{PictureKind::Png, "png", kPng},    PictureType{PictureKind::WebP, "webp", kWebP},
    PictureType{PictureKind::Heif, "heic", kHeif}, PictureType{PictureKind::Avif, "avif", kAvif},
    PictureType{PictureKind::Tiff, "tiff", kTiff}, PictureType{PictureKind::JpegXl, "jxl", kJpegXl},
    PictureType{PictureKind::Raw, "raw", kRaw},    PictureType{PictureKind::JpegOther, "jpeg", kJpegOther},
};

// PictureTypeOf finds a kind's row by its number.
constexpr bool RowsInKindOrder()
{
    for (std::size_t i = 0; i < kTypes.size(); ++i) {
        if (static_cast<std::size_t>(kTypes[i].kind) != i)
            return false;
    }
    return true;
}
static_assert(RowsInKindOrder() && kTypes.size() == kPictureKindCount);

}  // namespace

std::span<const PictureType> PictureTypes()
{
    return kTypes;
}

const PictureType& PictureTypeOf(PictureKind kind)
{
    return kTypes[static_cast<std::size_t>(kind)];
}

std::optional<PictureKind> PictureKindNamed(std::string_view name)
{
    for (const PictureType& type : kTypes) {
        if (EqualIgnoringAsciiCase(type.name, name))
            return type.kind;
    }
    return std::nullopt;
}

std::vector<PictureKind> PictureKinds::InOrder() const
{
    std::vector<PictureKind> kinds;
    for (const PictureType& type : kTypes) {
        if (Has(type.kind))
            kinds.push_back(type.kind);
    }
    return kinds;
}

std::string PictureKindNames(PictureKinds kinds)
{
    std::string names;
    for (const PictureKind kind : kinds.InOrder()) {
        if (!names.empty())
            names += ',';
        names += PictureTypeOf(kind).name;
    }
    return names;
}

PictureKinds ParsePictureKindNames(std::string_view list, std::vector<std::string>* unknown)
{
    PictureKinds kinds;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string_view name = list.substr(start, comma - start);
        if (const auto kind = PictureKindNamed(name))
            kinds.Add(*kind);
        else if (unknown)
            unknown->emplace_back(name);
        start = comma + 1;
    }
    return kinds;
}

}  // namespace snapsift
