// SPDX-License-Identifier: MIT
#pragma once

#include "ui/preview/picture_preview.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <cstddef>
#include <cstdint>
#include <span>

namespace snapsift {

// Pictures whose header claims more pixels than this are not decoded even
// where the decoder could scale them down while reading.
inline constexpr qint64 kMaxPreviewPixels = 400'000'000;
// The most a decoder that keeps the whole picture may hold of it, in bytes
// (that is, Qt's image allocation limit).
inline constexpr qint64 kMaxFullPictureBytes = static_cast<qint64>(kImageAllocationLimitMiB) << 20;
// The largest file read whole into memory for a decoder that needs it so.
inline constexpr std::uint64_t kMaxWholeFileBytes = 128ULL * 1024 * 1024;

// No camera embeds a preview larger than this in a RAW file.
inline constexpr std::uint32_t kMaxRawPreviewBytes = 64U * 1024 * 1024;

// The kinds of picture the helper can tell from a file's first bytes.
enum class PictureType : std::uint8_t {
    Unknown,
    Jpeg,
    Png,
    Bmp,
    Gif,
    WebP,
    Tiff,
    Heic,
    Heif,
    Avif,
    JpegXl,
    Raw
};

// An open regular file to decode, and the box its preview must fit.
struct DecodeRequest {
    int fd = -1;
    std::uint64_t size = 0;
    QSize box;
    PictureType type = PictureType::Unknown;
};

// What a decoder made: the picture fitted to the box with its orientation
// applied, the picture's own size (oriented), or why not.
struct Decoded {
    QImage image;
    QSize pixelSize;
    PreviewFailure failure = PreviewFailure::None;
    PictureFacts facts;
    bool haveFacts = false;                   // the decoder read the facts itself
    PictureType type = PictureType::Unknown;  // set when the file proved to be another type than sniffed

    static Decoded Failure(PreviewFailure failure)
    {
        Decoded decoded;
        decoded.failure = failure;
        return decoded;
    }
};

using DecodeFunction = Decoded (*)(const DecodeRequest& request);

struct DecoderEntry {
    PictureType type;
    const char* format;    // as the tooltip names it: "JPEG", "HEIC", ...
    const char* mimeType;  // as the thumbnail cache records it
    DecodeFunction decode;
};

// The type the first bytes of a file say, or Unknown; `head` holds the
// first `size` bytes (kSniffBytes, or the whole file when shorter).
inline constexpr std::size_t kSniffBytes = 64;
PictureType SniffPictureType(const unsigned char* head, std::size_t size);

// Every type this helper decodes, with its decoder.
std::span<const DecoderEntry> Decoders();
const DecoderEntry* FindDecoder(PictureType type);
const DecoderEntry* FindDecoderByMimeType(const QByteArray& mimeType);
// The formats above, sorted and comma-separated: what a failure recorded
// by this helper was tried with.
QByteArray DecodableFormats();

// The decoders, one file each.
Decoded DecodeWithQt(const DecodeRequest& request);  // JPEG, PNG, BMP, GIF
Decoded DecodeHeif(const DecodeRequest& request);    // HEIC, HEIF, AVIF
Decoded DecodeRaw(const DecodeRequest& request);     // a camera's RAW file: its embedded preview
Decoded DecodeWebP(const DecodeRequest& request);
Decoded DecodeTiff(const DecodeRequest& request);  // or a RAW file in a TIFF container
Decoded DecodeJpegXl(const DecodeRequest& request);

// The embedded preview of a camera's RAW file, into `*decoded`; false, and
// nothing done, when libraw does not take the file for one.
bool DecodeRawPreview(const DecodeRequest& request, Decoded* decoded);

// The smallest JPEG preview that the RAW file in `fd` embeds, smaller than
// the `largest` one (libraw's choice), that still has the `needed` pixels
// (both as stored); read with exiv2. Empty when there is none.
QByteArray SmallerRawPreview(int fd, QSize largest, QSize needed);

// Helpers the decoders share.
// The JPEG in `fd` decoded and fitted, its header checked first; EXIF
// orientation applied when `applyOrientation`.
Decoded DecodeJpegFile(int fd, std::uint64_t size, QSize box, bool applyOrientation);
// The picture with an EXIF orientation (1 to 8) applied; others leave it.
QImage Oriented(const QImage& image, int orientation);
QSize OrientedSize(QSize stored, int orientation);
// The size to decode a picture stored at `stored` to, so that once oriented
// it fits `box`; the stored size itself when it already fits.
QSize FittedStoredSize(QSize stored, int orientation, QSize box);
// True when a picture of `size` may be decoded whole.
bool FitsWhole(qint64 width, qint64 height);
// Reads the whole file (at most kMaxWholeFileBytes); empty on failure.
QByteArray ReadWholeFile(int fd, std::uint64_t size);
// A path by which a library that wants a file name opens this descriptor.
QByteArray DescriptorPath(int fd);
// The capture time and camera that the file's EXIF gives, read with exiv2;
// `exif` is a bare EXIF block (starting with the TIFF header) instead.
// With `orientation`, also the EXIF orientation there (1 when none).
PictureFacts ReadFileFacts(int fd, int* orientation = nullptr);
PictureFacts ReadExifFacts(const unsigned char* exif, std::size_t size);

}  // namespace snapsift
