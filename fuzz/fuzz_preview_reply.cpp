// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes, as what a preview helper sent back, to the reading
// of its replies, one after another as the window reads them. Nothing may
// crash or read out of bounds; a reply read is within what was sent, its
// picture within the preview's square and its reason one the window knows.
#include "ui/preview/preview_wire.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using snapsift::preview_wire::ReadReply;
    constexpr int kSide = 256;
    const char* at = reinterpret_cast<const char*>(data);
    std::size_t left = size;
    for (;;) {
        const ReadReply read = snapsift::preview_wire::ReadReplyFrom(at, left, kSide);
        if (read.status != ReadReply::Status::Complete)
            return 0;
        if (read.bytes > left || read.bytes < sizeof read.reply || read.pixelBytes > std::size_t{4} * kSide * kSide ||
            read.formatBytes > sizeof read.reply.format || read.failure < snapsift::PreviewFailure::None ||
            read.failure > snapsift::PreviewFailure::TookTooLong)
            std::abort();
        at += read.bytes;
        left -= read.bytes;
    }
}
