// SPDX-License-Identifier: MIT
#pragma once

// What passes between the window and its preview helpers (preview_helper.h),
// and the reading of the helper's replies. Plain C++, so that the reading can
// be checked without a display.

#include "platform/file_identity.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace snapsift {

// Which version of a file a preview shows.
struct FileVersion {
    FileIdentity identity;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileVersion&) const = default;
};

// Why a file has no preview.
enum class PreviewFailure : std::int32_t {
    None,
    NoFile,
    Link,
    NotReadable,
    CannotOpen,
    NotRegular,
    Empty,
    NotPicture,
    TooLarge,
    Broken,
    TookTooLong,
    HelpersStuck,  // every helper's place is held by one that could not be killed yet
};

// What a picture says of where it came from; each text is empty when the
// picture does not say. Both are plain ASCII and always end in a NUL.
struct PictureFacts {
    char captureTime[20] = {};  // EXIF DateTimeOriginal, as "2024-05-01 10:20:30"
    char camera[44] = {};       // EXIF Model
    bool operator==(const PictureFacts&) const = default;
};

// What passes through the pipes, in the machine's own byte order: a request
// header and the path's bytes; a reply header and, for a picture, its
// pixels (32-bit premultiplied ARGB, as a pixmap takes them, rows without
// padding).
namespace preview_wire {

inline constexpr std::uint32_t kRequestMagic = 0x51525053;  // "SPRQ"
inline constexpr std::uint32_t kReplyMagic = 0x50525053;    // "SPRP"
inline constexpr std::uint32_t kMaxPathBytes = 64 * 1024;
inline constexpr int kMaxBoxSide = 4096;

struct Request {
    std::uint32_t magic = kRequestMagic;
    std::uint32_t pathBytes = 0;
    std::int32_t boxWidth = 0;
    std::int32_t boxHeight = 0;
    std::uint32_t haveKnown = 0;
    std::uint32_t reserved = 0;
    FileVersion known;
};

enum class ReplyKind : std::int32_t {
    Picture,
    Failure,
    Unchanged
};

struct Reply {
    std::uint32_t magic = kReplyMagic;
    ReplyKind kind = ReplyKind::Failure;
    PreviewFailure failure = PreviewFailure::None;
    std::int32_t pixelWidth = 0;
    std::int32_t pixelHeight = 0;
    std::int32_t imageWidth = 0;
    std::int32_t imageHeight = 0;
    std::uint32_t fromThumbnail = 0;
    char format[16] = {};
    FileVersion version;
    PictureFacts facts;
};

static_assert(std::is_trivially_copyable_v<Request> && std::is_trivially_copyable_v<Reply>);

// One reply read from the front of what a helper has sent.
struct ReadReply {
    enum class Status {
        Incomplete,
        Bad,
        Complete
    };
    Status status = Status::Incomplete;             // Bad: the helper cannot be trusted any more
    Reply reply;                                    // Complete: the header as sent
    PreviewFailure failure = PreviewFailure::None;  // Complete: the reason, Broken when it names none it may
    std::size_t formatBytes = 0;                    // Complete: how much of reply.format comes before a NUL
    std::size_t pixelBytes = 0;                     // Complete: the pixels, right after the header
    std::size_t bytes = 0;                          // Complete: header and pixels together
};

// Reads the reply at the front of `data`. A picture is at most `maxSide`
// pixels either way; a reply that claims more, or is not one, is Bad.
ReadReply ReadReplyFrom(const char* data, std::size_t size, int maxSide);

}  // namespace preview_wire

}  // namespace snapsift
