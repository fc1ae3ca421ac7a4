// SPDX-License-Identifier: MIT
// A camera's RAW file shows the JPEG preview that the camera embedded in
// it, found by libraw. The RAW data itself is never developed: that is slow
// and needs no such quality for a preview.
#include "platform/file_system.h"
#include "ui/preview/decode/decoders.h"
#include "ui/preview/decode/file_reading.h"

#include <libraw/libraw.h>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>

namespace snapsift {

namespace {

// libraw's turn of the picture as an EXIF orientation.
int OrientationOf(int flip)
{
    switch (flip) {
    case 3:
        return 3;
    case 5:
        return 8;
    case 6:
        return 6;
    default:
        return 1;
    }
}

Decoded DecodeBitmap(const libraw_thumbnail_t& thumbnail, QSize box)
{
    const std::uint64_t needed = std::uint64_t{thumbnail.twidth} * thumbnail.theight * 3;
    if (thumbnail.tcolors != 3 || thumbnail.twidth == 0 || thumbnail.theight == 0 || needed > thumbnail.tlength)
        return Decoded::Failure(PreviewFailure::Broken);
    const QImage whole(reinterpret_cast<const uchar*>(thumbnail.thumb), thumbnail.twidth, thumbnail.theight,
                       qsizetype{thumbnail.twidth} * 3, QImage::Format_RGB888);
    Decoded decoded;
    const QSize fitted = FittedStoredSize(whole.size(), 1, box);
    decoded.image = whole.scaled(fitted, Qt::KeepAspectRatio, Qt::SmoothTransformation).copy();
    decoded.pixelSize = whole.size();
    return decoded;
}

// The embedded JPEG goes through the same checks and decoder as a JPEG file.
Decoded DecodeEmbeddedJpeg(const void* jpeg, std::size_t length, QSize box)
{
    const FileDescriptor memory(::memfd_create("snapsift-preview", MFD_CLOEXEC));
    if (memory.Fd() < 0 || !WriteAll(memory.Fd(), jpeg, length))
        return Decoded::Failure(PreviewFailure::TooLarge);
    ::lseek(memory.Fd(), 0, SEEK_SET);  // the decoder reads from where the descriptor stands
    return DecodeJpegFile(memory.Fd(), length, box, false);
}

// libraw's own choice of preview, the largest, read and decoded.
Decoded DecodeLibrawPreview(LibRaw& raw, QSize box)
{
    const int unpacked = raw.unpack_thumb();
    const libraw_thumbnail_t& thumbnail = raw.imgdata.thumbnail;
    if (unpacked != LIBRAW_SUCCESS || !thumbnail.thumb)
        return Decoded::Failure(unpacked == LIBRAW_UNSUFFICIENT_MEMORY || unpacked == LIBRAW_TOO_BIG
                                    ? PreviewFailure::TooLarge
                                    : PreviewFailure::Broken);
    if (thumbnail.tformat == LIBRAW_THUMBNAIL_JPEG)
        return DecodeEmbeddedJpeg(thumbnail.thumb, thumbnail.tlength, box);
    if (thumbnail.tformat == LIBRAW_THUMBNAIL_BITMAP)
        return DecodeBitmap(thumbnail, box);
    return Decoded::Failure(PreviewFailure::NotPicture);
}

}  // namespace

bool DecodeRawPreview(const DecodeRequest& request, Decoded* decoded)
{
    const auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    const int opened = raw->open_file(DescriptorPath(request.fd).constData());
    if (opened == LIBRAW_FILE_UNSUPPORTED)
        return false;
    if (opened != LIBRAW_SUCCESS) {
        *decoded =
            Decoded::Failure(opened == LIBRAW_UNSUFFICIENT_MEMORY || opened == LIBRAW_TOO_BIG ? PreviewFailure::TooLarge
                                                                                              : PreviewFailure::Broken);
        return true;
    }
    const libraw_thumbnail_t& thumbnail = raw->imgdata.thumbnail;
    if (thumbnail.tlength == 0) {
        *decoded = Decoded::Failure(PreviewFailure::NotPicture);  // a RAW file without a preview
        return true;
    }
    if (thumbnail.tlength > request.size) {
        *decoded = Decoded::Failure(PreviewFailure::Broken);  // a preview longer than the file
        return true;
    }
    if (thumbnail.tlength > kMaxRawPreviewBytes ||
        static_cast<qint64>(thumbnail.twidth) * thumbnail.theight > kMaxPreviewPixels) {
        *decoded = Decoded::Failure(PreviewFailure::TooLarge);
        return true;
    }
    const int orientation = OrientationOf(raw->imgdata.sizes.flip);
    // A smaller preview that still fills the box, where the camera embeds one.
    const QSize largest(static_cast<int>(thumbnail.twidth), static_cast<int>(thumbnail.theight));
    const QByteArray smaller =
        SmallerRawPreview(request.fd, largest, FittedStoredSize(largest, orientation, request.box));
    if (!smaller.isEmpty())
        *decoded = DecodeEmbeddedJpeg(smaller.constData(), static_cast<std::size_t>(smaller.size()), request.box);
    if (smaller.isEmpty() || decoded->failure != PreviewFailure::None)
        *decoded = DecodeLibrawPreview(*raw, request.box);
    if (decoded->failure != PreviewFailure::None)
        return true;
    decoded->image = Oriented(decoded->image, orientation);
    // The size of the picture the camera took, not of its preview.
    const QSize taken(raw->imgdata.sizes.width, raw->imgdata.sizes.height);
    decoded->pixelSize = OrientedSize(taken.isEmpty() ? decoded->pixelSize : taken, orientation);
    return true;
}

Decoded DecodeRaw(const DecodeRequest& request)
{
    Decoded decoded;
    return DecodeRawPreview(request, &decoded) ? decoded : Decoded::Failure(PreviewFailure::NotPicture);
}

}  // namespace snapsift
