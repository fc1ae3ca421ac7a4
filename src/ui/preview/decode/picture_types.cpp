// SPDX-License-Identifier: MIT
// Which picture a file holds, by its first bytes alone, and which decoder
// reads it. A name says nothing: only the types listed here reach a decoder.
#include "ui/preview/decode/decoders.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace snapsift {

namespace {

constexpr std::array<DecoderEntry, 11> kDecoders = {{
    {PictureType::Jpeg, "JPEG", "image/jpeg", DecodeWithQt},
    {PictureType::Png, "PNG", "image/png", DecodeWithQt},
    {PictureType::Bmp, "BMP", "image/bmp", DecodeWithQt},
    {PictureType::Gif, "GIF", "image/gif", DecodeWithQt},
    {PictureType::WebP, "WEBP", "image/webp", DecodeWebP},
    {PictureType::Tiff, "TIFF", "image/tiff", DecodeTiff},
    {PictureType::Heic, "HEIC", "image/heic", DecodeHeif},
    {PictureType::Heif, "HEIF", "image/heif", DecodeHeif},
    {PictureType::Avif, "AVIF", "image/avif", DecodeHeif},
    {PictureType::JpegXl, "JXL", "image/jxl", DecodeJpegXl},
    {PictureType::Raw, "RAW", "image/x-dcraw", DecodeRaw},
}};

bool Starts(const unsigned char* head, std::size_t size, std::size_t at, std::string_view magic)
{
    return size >= at + magic.size() && std::memcmp(head + at, magic.data(), magic.size()) == 0;
}

// An ISO base media file ("ftyp" box first): HEIF and AVIF, or Canon's CR3.
PictureType SniffBoxes(const unsigned char* head, std::size_t size)
{
    const std::size_t boxSize =
        (std::size_t{head[0]} << 24) | (std::size_t{head[1]} << 16) | (std::size_t{head[2]} << 8) | head[3];
    if (boxSize < 16 || !Starts(head, size, 4, "ftyp"))
        return PictureType::Unknown;
    const std::string_view major(reinterpret_cast<const char*>(head) + 8, 4);
    if (major == "crx ")
        return PictureType::Raw;
    std::vector<std::string_view> brands{major};
    for (std::size_t at = 16; at + 4 <= std::min(boxSize, size); at += 4)
        brands.emplace_back(reinterpret_cast<const char*>(head) + at, 4);
    const auto has = [&brands](std::string_view brand) {
        return std::find(brands.begin(), brands.end(), brand) != brands.end();
    };
    if (major == "avif" || major == "avis")
        return PictureType::Avif;
    if (major == "heic" || major == "heix" || major == "heim" || major == "heis" || major == "hevc" || major == "hevx")
        return PictureType::Heic;
    if (major == "mif1" || major == "msf1")
        return has("avif") ? PictureType::Avif : has("heic") || has("heix") ? PictureType::Heic : PictureType::Heif;
    return PictureType::Unknown;
}

}  // namespace

PictureType SniffPictureType(const unsigned char* head, std::size_t size)
{
    if (Starts(head, size, 0, "\xFF\xD8\xFF"))
        return PictureType::Jpeg;
    if (Starts(head, size, 0, "\x89PNG\r\n\x1A\n"))
        return PictureType::Png;
    if (Starts(head, size, 0, "BM") && size >= 26)
        return PictureType::Bmp;
    if (Starts(head, size, 0, "GIF87a") || Starts(head, size, 0, "GIF89a"))
        return PictureType::Gif;
    if (Starts(head, size, 0, "RIFF") && Starts(head, size, 8, "WEBP"))
        return PictureType::WebP;
    // Olympus, Panasonic and Fujifilm RAW files have magic numbers of their
    // own; the other RAW files are TIFF containers, told apart when decoded.
    if (Starts(head, size, 0, "IIRO") || Starts(head, size, 0, "IIRS") || Starts(head, size, 0, "MMOR") ||
        Starts(head, size, 0, std::string_view("IIU\0", 4)) || Starts(head, size, 0, "FUJIFILMCCD-RAW"))
        return PictureType::Raw;
    if (Starts(head, size, 0, std::string_view("II*\0", 4)) || Starts(head, size, 0, std::string_view("MM\0*", 4)))
        return PictureType::Tiff;
    if (Starts(head, size, 0, "\xFF\x0A") ||
        Starts(head, size, 0, std::string_view("\0\0\0\x0CJXL \x0D\x0A\x87\x0A", 12)))
        return PictureType::JpegXl;
    if (size >= 16)
        return SniffBoxes(head, size);
    return PictureType::Unknown;
}

std::span<const DecoderEntry> Decoders()
{
    return kDecoders;
}

const DecoderEntry* FindDecoder(PictureType type)
{
    for (const DecoderEntry& entry : kDecoders) {
        if (entry.type == type)
            return &entry;
    }
    return nullptr;
}

const DecoderEntry* FindDecoderByMimeType(const QByteArray& mimeType)
{
    for (const DecoderEntry& entry : kDecoders) {
        if (mimeType == entry.mimeType)
            return &entry;
    }
    return nullptr;
}

QByteArray DecodableFormats()
{
    QByteArrayList formats;
    for (const DecoderEntry& entry : kDecoders)
        formats.append(entry.format);
    std::sort(formats.begin(), formats.end());
    return formats.join(',');
}

}  // namespace snapsift
