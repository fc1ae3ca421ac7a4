// SPDX-License-Identifier: MIT
#include "ui/preview/preview_reply.h"

#include "ui/preview/preview_helper.h"

#include <cstring>

namespace snapsift {

const qsizetype kMaxReplyBytes =
    static_cast<qsizetype>(sizeof(preview_wire::Reply)) + 4LL * kPreviewSide * kPreviewSide;

ReplyRead ReadReply(const QByteArray& inbox)
{
    using preview_wire::Reply;
    using preview_wire::ReplyKind;
    ReplyRead read;
    if (inbox.size() < static_cast<qsizetype>(sizeof(Reply)))
        return read;
    Reply reply;
    std::memcpy(&reply, inbox.constData(), sizeof reply);
    const bool sane = reply.magic == preview_wire::kReplyMagic && reply.imageWidth >= 0 && reply.imageHeight >= 0 &&
                      reply.imageWidth <= kPreviewSide && reply.imageHeight <= kPreviewSide &&
                      (reply.kind != ReplyKind::Picture || (reply.imageWidth > 0 && reply.imageHeight > 0));
    if (!sane) {
        read.state = ReplyRead::State::Broken;
        return read;
    }
    const qsizetype pixels =
        reply.kind == ReplyKind::Picture ? static_cast<qsizetype>(reply.imageWidth) * reply.imageHeight * 4 : 0;
    if (inbox.size() < static_cast<qsizetype>(sizeof reply) + pixels)
        return read;
    PicturePreview& preview = read.preview;
    preview.version = reply.version;
    preview.failure = reply.kind == ReplyKind::Picture ? PreviewFailure::None : reply.failure;
    if (preview.failure < PreviewFailure::None || preview.failure > PreviewFailure::TookTooLong ||
        (reply.kind == ReplyKind::Failure && preview.failure == PreviewFailure::None))
        preview.failure = PreviewFailure::Broken;
    preview.pixelSize = QSize(reply.pixelWidth, reply.pixelHeight);
    preview.format = QByteArray(reply.format, static_cast<qsizetype>(strnlen(reply.format, sizeof reply.format)));
    preview.fromThumbnail = reply.fromThumbnail != 0;
    preview.facts = reply.facts;  // shown through FactsText, which bounds each field
    if (reply.kind == ReplyKind::Picture) {
        QImage image(reply.imageWidth, reply.imageHeight, QImage::Format_ARGB32_Premultiplied);
        const qsizetype row = static_cast<qsizetype>(reply.imageWidth) * 4;
        for (int y = 0; y < image.height(); ++y)
            std::memcpy(image.scanLine(y), inbox.constData() + sizeof reply + y * row, static_cast<size_t>(row));
        preview.image = std::move(image);
    }
    read.state = ReplyRead::State::Complete;
    read.unchanged = reply.kind == ReplyKind::Unchanged;
    read.bytes = static_cast<qsizetype>(sizeof reply) + pixels;
    return read;
}

} // namespace snapsift
