// SPDX-License-Identifier: MIT
#include "ui/preview/preview_wire.h"

#include <cstring>

namespace snapsift::preview_wire {

ReadReply ReadReplyFrom(const char* data, std::size_t size, int maxSide)
{
    ReadReply read;
    if (size < sizeof(Reply))
        return read;
    Reply& reply = read.reply;
    std::memcpy(&reply, data, sizeof reply);
    const bool sane = reply.magic == kReplyMagic && reply.imageWidth >= 0 && reply.imageHeight >= 0 &&
                      reply.imageWidth <= maxSide && reply.imageHeight <= maxSide &&
                      (reply.kind != ReplyKind::Picture || (reply.imageWidth > 0 && reply.imageHeight > 0));
    if (!sane) {
        read.status = ReadReply::Status::Bad;
        return read;
    }
    read.pixelBytes = reply.kind == ReplyKind::Picture
                          ? static_cast<std::size_t>(reply.imageWidth) * static_cast<std::size_t>(reply.imageHeight) * 4
                          : 0;
    if (size - sizeof reply < read.pixelBytes)
        return read;
    read.status = ReadReply::Status::Complete;
    read.bytes = sizeof reply + read.pixelBytes;
    read.failure = reply.kind == ReplyKind::Picture ? PreviewFailure::None : reply.failure;
    if (read.failure < PreviewFailure::None || read.failure > PreviewFailure::TookTooLong ||
        (reply.kind == ReplyKind::Failure && read.failure == PreviewFailure::None))
        read.failure = PreviewFailure::Broken;
    read.formatBytes = strnlen(reply.format, sizeof reply.format);
    return read;
}

}  // namespace snapsift::preview_wire
