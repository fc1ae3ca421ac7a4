// SPDX-License-Identifier: MIT
// TIFF through libtiff, its first page. Most camera RAW files are TIFF
// containers too: libraw is asked first, and a file it takes for a RAW
// file shows that file's embedded preview.
#include "ui/preview/decode/decoders.h"

#include <fcntl.h>
#include <memory>
#include <tiffio.h>
#include <unistd.h>

namespace snapsift {

namespace {

int Quiet(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;  // handled: nothing goes to the helper's standard error
}

struct TiffClose {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

Decoded DecodeFirstPage(const DecodeRequest& request)
{
    const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxFullPictureBytes);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), Quiet, nullptr);
    // libtiff closes the descriptor it is given, and moves its offset.
    const int own = ::fcntl(request.fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return Decoded::Failure(PreviewFailure::CannotOpen);
    ::lseek(own, 0, SEEK_SET);
    const std::unique_ptr<TIFF, TiffClose> tiff(TIFFFdOpenExt(own, "picture", "rm", options.get()));
    if (!tiff) {
        ::close(own);
        return Decoded::Failure(PreviewFailure::Broken);
    }
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t orientation = 1;
    TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ORIENTATION, &orientation);
    if (width == 0 || height == 0)
        return Decoded::Failure(PreviewFailure::Broken);
    if (!FitsWhole(width, height))
        return Decoded::Failure(PreviewFailure::TooLarge);
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tiff.get(), message))
        return Decoded::Failure(PreviewFailure::NotPicture);
    TIFFRGBAImage reader{};
    if (!TIFFRGBAImageBegin(&reader, tiff.get(), 0, message))
        return Decoded::Failure(PreviewFailure::Broken);
    // The rows as stored, first row on top; the orientation is applied below
    // (libtiff would only mirror, never turn).
    reader.orientation = ORIENTATION_TOPLEFT;
    reader.req_orientation = ORIENTATION_TOPLEFT;
    QImage whole(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGBA8888);
    const bool read = !whole.isNull() &&
                      TIFFRGBAImageGet(&reader, reinterpret_cast<std::uint32_t*>(whole.bits()), width, height) != 0;
    TIFFRGBAImageEnd(&reader);
    if (!read)
        return Decoded::Failure(whole.isNull() ? PreviewFailure::TooLarge : PreviewFailure::Broken);
    Decoded decoded;
    const QSize fitted = FittedStoredSize(whole.size(), orientation, request.box);
    decoded.image =
        Oriented(whole.size() == fitted ? whole : whole.scaled(fitted, Qt::KeepAspectRatio, Qt::SmoothTransformation),
                 orientation);
    decoded.pixelSize = OrientedSize(whole.size(), orientation);
    return decoded;
}

}  // namespace

Decoded DecodeTiff(const DecodeRequest& request)
{
    Decoded raw;
    if (DecodeRawPreview(request, &raw)) {
        raw.type = PictureType::Raw;
        if (raw.failure == PreviewFailure::None || raw.failure == PreviewFailure::TooLarge)
            return raw;
    }
    Decoded page = DecodeFirstPage(request);
    if (page.failure != PreviewFailure::None && raw.type == PictureType::Raw)
        return raw;
    return page;
}

}  // namespace snapsift
