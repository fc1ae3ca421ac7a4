// SPDX-License-Identifier: MIT
// JPEG XL through libjxl, which applies the picture's orientation itself.
// libjxl has no decoding to a smaller size, so the whole picture is held
// once: a header that asks for more than that may take is refused first.
#include "ui/preview/decode/decoders.h"

#include <jxl/decode_cxx.h>
#include <jxl/thread_parallel_runner_cxx.h>

#include <algorithm>

namespace snapsift {

Decoded DecodeJpegXl(const DecodeRequest& request)
{
    if (request.size > kMaxWholeFileBytes)
        return Decoded::Failure(PreviewFailure::TooLarge);
    const QByteArray bytes = ReadWholeFile(request.fd, request.size);
    if (bytes.isEmpty())
        return Decoded::Failure(PreviewFailure::CannotOpen);
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    // Two threads at most: two helpers may decode at once on a shared machine.
    const JxlThreadParallelRunnerPtr runner =
        JxlThreadParallelRunnerMake(nullptr, std::min<size_t>(2, JxlThreadParallelRunnerDefaultNumWorkerThreads()));
    if (!decoder || !runner ||
        JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetParallelRunner(decoder.get(), JxlThreadParallelRunner, runner.get()) != JXL_DEC_SUCCESS)
        return Decoded::Failure(PreviewFailure::TooLarge);
    JxlDecoderSetInput(decoder.get(), reinterpret_cast<const uint8_t*>(bytes.constData()),
                       static_cast<size_t>(bytes.size()));
    JxlDecoderCloseInput(decoder.get());

    const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlBasicInfo info{};
    QImage whole;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        if (status == JXL_DEC_BASIC_INFO) {
            if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
                return Decoded::Failure(PreviewFailure::Broken);
            if (!FitsWhole(info.xsize, info.ysize))
                return Decoded::Failure(PreviewFailure::TooLarge);
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            // Oriented as it is shown: the sides swap for a quarter turn.
            const QSize shown = OrientedSize(QSize(static_cast<int>(info.xsize), static_cast<int>(info.ysize)),
                                             static_cast<int>(info.orientation));
            whole = QImage(shown, QImage::Format_RGBA8888);
            size_t needed = 0;
            if (whole.isNull() || JxlDecoderImageOutBufferSize(decoder.get(), &format, &needed) != JXL_DEC_SUCCESS ||
                needed != static_cast<size_t>(whole.sizeInBytes()))
                return Decoded::Failure(whole.isNull() ? PreviewFailure::TooLarge : PreviewFailure::Broken);
            if (JxlDecoderSetImageOutBuffer(decoder.get(), &format, whole.bits(), needed) != JXL_DEC_SUCCESS)
                return Decoded::Failure(PreviewFailure::Broken);
        } else if (status == JXL_DEC_FULL_IMAGE) {
            break;  // the first frame is enough
        } else if (status == JXL_DEC_SUCCESS || status == JXL_DEC_ERROR || status == JXL_DEC_NEED_MORE_INPUT) {
            return Decoded::Failure(PreviewFailure::Broken);
        }
    }
    if (whole.isNull())
        return Decoded::Failure(PreviewFailure::Broken);
    Decoded decoded;
    const QSize fitted = FittedStoredSize(whole.size(), 1, request.box);
    decoded.image =
        whole.size() == fitted ? whole : whole.scaled(fitted, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    decoded.pixelSize = whole.size();
    return decoded;
}

} // namespace snapsift
