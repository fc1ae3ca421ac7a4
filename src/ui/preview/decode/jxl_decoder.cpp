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
constexpr std::size_t kMaxExifBytes = std::size_t{256} * 1024;

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

// What the decoder's events have given so far.
struct JxlRun {
    JxlBasicInfo info{};
    QImage whole;
    ExifBox exif;
    bool done = false;  // the first frame is in `whole`
};

constexpr JxlPixelFormat kFormat{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};

// What one event leads to: the next event, the end of the events, or the
// decoding's failure.
struct EventOutcome {
    bool last = false;
    PreviewFailure failure = PreviewFailure::None;
};
constexpr EventOutcome kNextEvent{};
constexpr EventOutcome kLastEvent{true};
constexpr EventOutcome Failed(PreviewFailure failure)
{
    return {true, failure};
}

// The picture of the first frame, oriented as it is shown (the sides swap
// for a quarter turn), as the decoder's output.
EventOutcome SetOutBuffer(JxlDecoder* decoder, JxlRun& run)
{
    const QSize shown = OrientedSize(QSize(static_cast<int>(run.info.xsize), static_cast<int>(run.info.ysize)),
                                     static_cast<int>(run.info.orientation));
    run.whole = QImage(shown, QImage::Format_RGBA8888);
    size_t needed = 0;
    if (run.whole.isNull() || JxlDecoderImageOutBufferSize(decoder, &kFormat, &needed) != JXL_DEC_SUCCESS ||
        needed != static_cast<size_t>(run.whole.sizeInBytes()))
        return Failed(run.whole.isNull() ? PreviewFailure::TooLarge : PreviewFailure::Broken);
    if (JxlDecoderSetImageOutBuffer(decoder, &kFormat, run.whole.bits(), needed) != JXL_DEC_SUCCESS)
        return Failed(PreviewFailure::Broken);
    return kNextEvent;
}

EventOutcome OnEvent(JxlDecoder* decoder, JxlDecoderStatus status, JxlRun& run)
{
    switch (status) {
    case JXL_DEC_BOX:
        run.exif.Start(decoder);
        return kNextEvent;
    case JXL_DEC_BOX_NEED_MORE_OUTPUT:
        return kNextEvent;  // an Exif box longer than its facts need: the rest is left out
    case JXL_DEC_BASIC_INFO:
        if (JxlDecoderGetBasicInfo(decoder, &run.info) != JXL_DEC_SUCCESS)
            return Failed(PreviewFailure::Broken);
        return FitsWhole(run.info.xsize, run.info.ysize) ? kNextEvent : Failed(PreviewFailure::TooLarge);
    case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
        // After the first frame, an animation's next one: the first one shows.
        return run.done ? kLastEvent : SetOutBuffer(decoder, run);
    case JXL_DEC_FULL_IMAGE:
        run.done = true;  // the first frame is enough; the boxes after it are still read
        return kNextEvent;
    case JXL_DEC_SUCCESS:
        return kLastEvent;
    case JXL_DEC_NEED_MORE_INPUT:
        return run.done ? kLastEvent : Failed(PreviewFailure::Broken);
    case JXL_DEC_ERROR:
        return Failed(PreviewFailure::Broken);
    default:
        return kNextEvent;
    }
}

// The decoded picture, fitted to `box`, with its facts.
Decoded Fitted(const JxlRun& run, QSize box)
{
    Decoded decoded;
    const QSize fitted = FittedStoredSize(run.whole.size(), 1, box);
    decoded.image = run.whole.size() == fitted
                        ? run.whole
                        : run.whole.scaled(fitted, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    decoded.pixelSize = run.whole.size();
    decoded.facts = run.exif.Facts();
    decoded.haveFacts = true;
    return decoded;
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

    JxlRun run;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        run.exif.Finish(decoder.get());
        const EventOutcome outcome = OnEvent(decoder.get(), status, run);
        if (outcome.failure != PreviewFailure::None)
            return Decoded::Failure(outcome.failure);
        if (outcome.last)
            break;
    }
    if (!run.done || run.whole.isNull())
        return Decoded::Failure(PreviewFailure::Broken);
    return Fitted(run, request.box);
}

}  // namespace snapsift
