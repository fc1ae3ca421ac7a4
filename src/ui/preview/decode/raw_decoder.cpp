// SPDX-License-Identifier: MIT
// A camera's RAW file shows the JPEG preview that the camera embedded in
// it, found by libraw. The RAW data itself is never developed: that is slow
// and needs no such quality for a preview.
#include "ui/preview/decode/decoders.h"

#include "platform/file_system.h"
#include "ui/preview/decode/file_reading.h"

#include <libraw/libraw.h>

#include <memory>

#include <sys/mman.h>
#include <unistd.h>

namespace snapsift {

namespace {

// No camera embeds a preview larger than this.
constexpr unsigned kMaxPreviewBytes = 64U * 1024 * 1024;

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
                       thumbnail.twidth * 3, QImage::Format_RGB888);
    Decoded decoded;
    const QSize fitted = FittedStoredSize(whole.size(), 1, box);
    decoded.image = whole.scaled(fitted, Qt::KeepAspectRatio, Qt::SmoothTransformation).copy();
    decoded.pixelSize = whole.size();
    return decoded;
}

// The embedded JPEG goes through the same checks and decoder as a JPEG file.
Decoded DecodeEmbeddedJpeg(const libraw_thumbnail_t& thumbnail, QSize box)
{
    const FileDescriptor memory(::memfd_create("snapsift-preview", MFD_CLOEXEC));
    if (memory.Fd() < 0 || !WriteAll(memory.Fd(), thumbnail.thumb, thumbnail.tlength))
        return Decoded::Failure(PreviewFailure::TooLarge);
    ::lseek(memory.Fd(), 0, SEEK_SET);  // the decoder reads from where the descriptor stands
    return DecodeJpegFile(memory.Fd(), thumbnail.tlength, box, false);
}

} // namespace

bool DecodeRawPreview(const DecodeRequest& request, Decoded* decoded)
{
    const auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    const int opened = raw->open_file(DescriptorPath(request.fd).constData());
    if (opened == LIBRAW_FILE_UNSUPPORTED)
        return false;
    if (opened != LIBRAW_SUCCESS) {
        *decoded = Decoded::Failure(opened == LIBRAW_UNSUFFICIENT_MEMORY || opened == LIBRAW_TOO_BIG
                                        ? PreviewFailure::TooLarge
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
    if (thumbnail.tlength > kMaxPreviewBytes ||
        static_cast<qint64>(thumbnail.twidth) * thumbnail.theight > kMaxPreviewPixels) {
        *decoded = Decoded::Failure(PreviewFailure::TooLarge);
        return true;
    }
    const int unpacked = raw->unpack_thumb();
    if (unpacked != LIBRAW_SUCCESS || !thumbnail.thumb) {
        *decoded = Decoded::Failure(unpacked == LIBRAW_UNSUFFICIENT_MEMORY || unpacked == LIBRAW_TOO_BIG
                                        ? PreviewFailure::TooLarge
                                        : PreviewFailure::Broken);
        return true;
    }
    if (thumbnail.tformat == LIBRAW_THUMBNAIL_JPEG)
        *decoded = DecodeEmbeddedJpeg(thumbnail, request.box);
    else if (thumbnail.tformat == LIBRAW_THUMBNAIL_BITMAP)
        *decoded = DecodeBitmap(thumbnail, request.box);
    else
        *decoded = Decoded::Failure(PreviewFailure::NotPicture);
    if (decoded->failure != PreviewFailure::None)
        return true;
    const int orientation = OrientationOf(raw->imgdata.sizes.flip);
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

} // namespace snapsift
