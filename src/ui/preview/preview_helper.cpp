// SPDX-License-Identifier: MIT
#include "ui/preview/preview_helper.h"

#include "platform/file_system.h"
#include "ui/preview/thumbnail_cache.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>

#include <csignal>
#include <cstring>
#include <new>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace snapsift {

namespace {

using preview_wire::Reply;
using preview_wire::ReplyKind;
using preview_wire::Request;

// The sanitizers reserve terabytes of address space for their own books, so
// builds made with them cannot run under an address-space limit.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SNAPSIFT_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(SNAPSIFT_SANITIZED)
constexpr bool kLimitAddressSpace = false;
#else
constexpr bool kLimitAddressSpace = true;
#endif

// The answer given when memory runs out in the middle of a picture: made
// before decoding, sent without allocating.
Reply g_outOfMemory;

[[noreturn]] void OutOfMemory()
{
    WriteAll(STDOUT_FILENO, &g_outOfMemory, sizeof g_outOfMemory);
    ::_exit(3);
}

Reply ReplyFor(const PicturePreview& preview, bool unchanged)
{
    Reply reply;
    reply.version = preview.version;
    if (unchanged) {
        reply.kind = ReplyKind::Unchanged;
        return reply;
    }
    reply.kind = preview.Ok() ? ReplyKind::Picture : ReplyKind::Failure;
    reply.failure = preview.failure;
    reply.pixelWidth = preview.pixelSize.width();
    reply.pixelHeight = preview.pixelSize.height();
    reply.fromThumbnail = preview.fromThumbnail ? 1 : 0;
    reply.facts = preview.facts;
    std::strncpy(reply.format, preview.format.constData(), sizeof reply.format - 1);
    if (preview.Ok()) {
        reply.imageWidth = preview.image.width();
        reply.imageHeight = preview.image.height();
    }
    return reply;
}

// Loads the decoders' plugins and libraries while the pointer is still
// coming to rest, so that the first picture does not pay for them.
void WarmUp()
{
    QImage dot(16, 16, QImage::Format_RGB32);
    dot.fill(Qt::gray);
    for (const char* format : {"jpeg", "png"}) {
        QByteArray bytes;
        QBuffer out(&bytes);
        out.open(QIODevice::WriteOnly);
        QImageWriter(&out, format).write(dot);
        QBuffer in(&bytes);
        in.open(QIODevice::ReadOnly);
        QImageReader(&in, format).read();
    }
}

}  // namespace

bool IsPreviewHelperCall(int argc, char** argv)
{
    return argc == 2 && std::strcmp(argv[1], kDecodePreviewOption) == 0;
}

int RunPreviewHelper()
{
    if (kLimitAddressSpace) {
        const rlimit memory{kPreviewHelperMemoryBytes, kPreviewHelperMemoryBytes};
        ::setrlimit(RLIMIT_AS, &memory);
    }
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    // Ends with the window, even if the window could not kill it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::signal(SIGPIPE, SIG_IGN);
    std::set_new_handler(OutOfMemory);
    LimitImageAllocation();
    const ThumbnailCache thumbnails;
    WarmUp();

    for (;;) {
        Request request;
        if (!ReadAll(STDIN_FILENO, &request, sizeof request))
            return 0;
        if (request.magic != preview_wire::kRequestMagic || request.pathBytes == 0 ||
            request.pathBytes > preview_wire::kMaxPathBytes || request.boxWidth < 1 || request.boxHeight < 1 ||
            request.boxWidth > preview_wire::kMaxBoxSide || request.boxHeight > preview_wire::kMaxBoxSide)
            return 2;
        std::string path(request.pathBytes, '\0');
        if (!ReadAll(STDIN_FILENO, path.data(), path.size()))
            return 0;
        g_outOfMemory = Reply{};
        g_outOfMemory.failure = PreviewFailure::TooLarge;

        bool unchanged = false;
        const PicturePreview preview =
            LoadPicturePreview(path, {request.boxWidth, request.boxHeight},
                               request.haveKnown ? &request.known : nullptr, &unchanged, &thumbnails);
        const Reply reply = ReplyFor(preview, unchanged);
        if (!WriteAll(STDOUT_FILENO, &reply, sizeof reply))
            return 0;
        if (reply.kind == ReplyKind::Picture) {
            // 32-bit rows have no padding: the pixels go in one piece.
            const QImage pixels = preview.image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            if (!WriteAll(STDOUT_FILENO, pixels.constBits(), static_cast<std::size_t>(pixels.sizeInBytes())))
                return 0;
        }
        // After the answer: the window does not wait for the thumbnail.
        KeepThumbnail(path, preview, {request.boxWidth, request.boxHeight}, thumbnails);
    }
}

}  // namespace snapsift
