// SPDX-License-Identifier: MIT
#include "ui/preview/preview_reply.h"

#include "ui/preview/preview_helper.h"

#include <cstring>

namespace snapsift {

const qsizetype kMaxReplyBytes =
    static_cast<qsizetype>(sizeof(preview_wire::Reply)) + 4LL * kPreviewSide * kPreviewSide;

// The header is read by the one reader the fuzzer checks; only the image is
// built here.
ReplyRead ReadReply(const QByteArray& inbox)
{
    using preview_wire::ReadReply;
    using preview_wire::ReplyKind;
    ReplyRead read;
    const ReadReply wire =
        preview_wire::ReadReplyFrom(inbox.constData(), static_cast<std::size_t>(inbox.size()), kPreviewSide);
    if (wire.status == ReadReply::Status::Incomplete)
        return read;
    if (wire.status == ReadReply::Status::Bad) {
        read.state = ReplyRead::State::Broken;
        return read;
    }
    const preview_wire::Reply& reply = wire.reply;
    PicturePreview& preview = read.preview;
    preview.version = reply.version;
    preview.failure = wire.failure;
    preview.pixelSize = QSize(reply.pixelWidth, reply.pixelHeight);
    preview.format = QByteArray(reply.format, static_cast<qsizetype>(wire.formatBytes));
    preview.fromThumbnail = reply.fromThumbnail != 0;
    preview.facts = reply.facts;  // shown through FactsText, which bounds each field
    if (reply.kind == ReplyKind::Picture) {
        QImage image(reply.imageWidth, reply.imageHeight, QImage::Format_ARGB32_Premultiplied);
        const std::size_t row = static_cast<std::size_t>(reply.imageWidth) * 4;
        for (int y = 0; y < image.height(); ++y)
            std::memcpy(image.scanLine(y), inbox.constData() + sizeof reply + static_cast<std::size_t>(y) * row, row);
        preview.image = std::move(image);
    }
    read.state = ReplyRead::State::Complete;
    read.unchanged = reply.kind == ReplyKind::Unchanged;
    read.bytes = static_cast<qsizetype>(wire.bytes);
    return read;
}

}  // namespace snapsift
