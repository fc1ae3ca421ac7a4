// SPDX-License-Identifier: MIT
// JPEG XL through libjxl, which applies the picture's orientation itself.
// libjxl has no decoding to a smaller size, so the whole picture is held
// once: a header that asks for more than that may take is refused first.
#include "ui/preview/decode/decoders.h"

#include <algorithm>
#include <jxl/decode_cxx.h>
#include <jxl/thread_parallel_runner_cxx.h>
#include <string_view>
#include <vector>

namespace snapsift {

namespace {

// The most of an Exif box that is kept: the capture facts sit at its front.
constexpr std::size_t kMaxExifBytes = 256 * 1024;

// Collects the Exif box, decompressed, as the decoder passes it.
class ExifBox final {
public:
    void Start(JxlDecoder* decoder)
    {
        JxlBoxType type = {};
        wanted_ = JxlDecoderGetBoxType(decoder, type, JXL_TRUE) == JXL_DEC_SUCCESS &&
                  std::string_view(type, 4) == "Exif" && bytes_.empty();
        if (wanted_) {
            bytes_.resize(kMaxExifBytes);
            JxlDecoderSetBoxBuffer(decoder, bytes_.data(), bytes_.size());
        }
    }
    // At the box's end (the next event): what it held.
    void Finish(JxlDecoder* decoder)
    {
        if (!wanted_)
            return;
        const size_t left = JxlDecoderReleaseBoxBuffer(decoder);
        bytes_.resize(bytes_.size() - std::min(left, bytes_.size()));
        wanted_ = false;
    }
    PictureFacts Facts() const
    {
        // A 4-byte offset to the TIFF header comes first.
        if (bytes_.size() <= 4)
            return {};
        const std::size_t skip = 4 + ((std::size_t{bytes_[0]} << 24) | (std::size_t{bytes_[1]} << 16) |
                                      (std::size_t{bytes_[2]} << 8) | bytes_[3]);
        return skip < bytes_.size() ? ReadExifFacts(bytes_.data() + skip, bytes_.size() - skip) : PictureFacts{};
    }

private:
    std::vector<unsigned char> bytes_;
    bool wanted_ = false;
};

// The events wanted (the picture's size, its boxes, its first frame), with
// the boxes decompressed, on `runner`'s threads.
bool SetUp(JxlDecoder* decoder, void* runner)
{
    return JxlDecoderSubscribeEvents(decoder, JXL_DEC_BASIC_INFO | JXL_DEC_BOX | JXL_DEC_FULL_IMAGE) ==
               JXL_DEC_SUCCESS &&
           JxlDecoderSetDecompressBoxes(decoder, JXL_TRUE) == JXL_DEC_SUCCESS &&
           JxlDecoderSetParallelRunner(decoder, JxlThreadParallelRunner, runner) == JXL_DEC_SUCCESS;
}

}  // namespace

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
    if (!decoder || !runner || !SetUp(decoder.get(), runner.get()))
        return Decoded::Failure(PreviewFailure::TooLarge);
    JxlDecoderSetInput(decoder.get(), reinterpret_cast<const uint8_t*>(bytes.constData()),
                       static_cast<size_t>(bytes.size()));
    JxlDecoderCloseInput(decoder.get());

    const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlBasicInfo info{};
    QImage whole;
    ExifBox exif;
    bool done = false;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        exif.Finish(decoder.get());
        if (status == JXL_DEC_BOX) {
            exif.Start(decoder.get());
        } else if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT) {
            continue;  // an Exif box longer than its facts need: the rest is left out
        } else if (status == JXL_DEC_BASIC_INFO) {
            if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
                return Decoded::Failure(PreviewFailure::Broken);
            if (!FitsWhole(info.xsize, info.ysize))
                return Decoded::Failure(PreviewFailure::TooLarge);
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            if (done)
                break;  // an animation's next frame: the first one shows
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
            done = true;  // the first frame is enough; the boxes after it are still read
        } else if (status == JXL_DEC_SUCCESS || (done && status == JXL_DEC_NEED_MORE_INPUT)) {
            break;
        } else if (status == JXL_DEC_ERROR || status == JXL_DEC_NEED_MORE_INPUT) {
            return Decoded::Failure(PreviewFailure::Broken);
        }
    }
    if (!done)
        return Decoded::Failure(PreviewFailure::Broken);
    if (whole.isNull())
        return Decoded::Failure(PreviewFailure::Broken);
    Decoded decoded;
    const QSize fitted = FittedStoredSize(whole.size(), 1, request.box);
    decoded.image =
        whole.size() == fitted ? whole : whole.scaled(fitted, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    decoded.pixelSize = whole.size();
    decoded.facts = exif.Facts();
    decoded.haveFacts = true;
    return decoded;
}

}  // namespace snapsift
