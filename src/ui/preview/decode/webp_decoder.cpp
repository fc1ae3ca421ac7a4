// SPDX-License-Identifier: MIT
// WebP through libwebp, scaled while decoding, so that the whole picture is
// never held. An animation shows its first frame.
#include "ui/preview/decode/decoders.h"

#include <webp/decode.h>
#include <webp/demux.h>

namespace snapsift {

namespace {

Decoded DecodeStill(const uint8_t* data, size_t size, const WebPBitstreamFeatures& features, QSize box, int orientation)
{
    const QSize stored(features.width, features.height);
    const QSize fitted = FittedStoredSize(stored, orientation, box);
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return Decoded::Failure(PreviewFailure::Broken);
    QImage image(fitted, QImage::Format_RGBA8888);
    if (image.isNull())
        return Decoded::Failure(PreviewFailure::TooLarge);
    if (fitted != stored) {
        config.options.use_scaling = 1;
        config.options.scaled_width = fitted.width();
        config.options.scaled_height = fitted.height();
    }
    config.output.colorspace = MODE_RGBA;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = static_cast<int>(image.bytesPerLine());
    config.output.u.RGBA.size = static_cast<size_t>(image.sizeInBytes());
    const VP8StatusCode status = WebPDecode(data, size, &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK)
        return Decoded::Failure(status == VP8_STATUS_OUT_OF_MEMORY ? PreviewFailure::TooLarge : PreviewFailure::Broken);
    Decoded decoded;
    decoded.image = Oriented(image, orientation);
    decoded.pixelSize = OrientedSize(stored, orientation);
    return decoded;
}

// The first frame of an animation, decoded on its own.
Decoded DecodeFrame(const WebPData& data, const DecodeRequest& request, int orientation, QSize canvas)
{
    WebPDemuxer* demux = WebPDemux(&data);
    if (!demux)
        return Decoded::Failure(PreviewFailure::Broken);
    WebPIterator frame;
    Decoded decoded = Decoded::Failure(PreviewFailure::Broken);
    if (WebPDemuxGetFrame(demux, 1, &frame)) {
        WebPBitstreamFeatures features;
        if (WebPGetFeatures(frame.fragment.bytes, frame.fragment.size, &features) == VP8_STATUS_OK &&
            !features.has_animation && features.width <= canvas.width() && features.height <= canvas.height())
            decoded = DecodeStill(frame.fragment.bytes, frame.fragment.size, features, request.box, orientation);
        WebPDemuxReleaseIterator(&frame);
    }
    WebPDemuxDelete(demux);
    if (decoded.failure == PreviewFailure::None)
        decoded.pixelSize = OrientedSize(canvas, orientation);
    return decoded;
}

}  // namespace

Decoded DecodeWebP(const DecodeRequest& request)
{
    if (request.size > kMaxWholeFileBytes)
        return Decoded::Failure(PreviewFailure::TooLarge);
    const QByteArray bytes = ReadWholeFile(request.fd, request.size);
    if (bytes.isEmpty())
        return Decoded::Failure(PreviewFailure::CannotOpen);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const auto size = static_cast<size_t>(bytes.size());
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data, size, &features) != VP8_STATUS_OK || features.width <= 0 || features.height <= 0)
        return Decoded::Failure(PreviewFailure::Broken);
    if (static_cast<qint64>(features.width) * features.height > kMaxPreviewPixels)
        return Decoded::Failure(PreviewFailure::TooLarge);
    int orientation = 1;
    const PictureFacts facts = ReadFileFacts(request.fd, &orientation);
    Decoded decoded = features.has_animation
                          ? DecodeFrame(WebPData{data, size}, request, orientation, {features.width, features.height})
                          : DecodeStill(data, size, features, request.box, orientation);
    decoded.facts = facts;
    decoded.haveFacts = true;
    return decoded;
}

}  // namespace snapsift
