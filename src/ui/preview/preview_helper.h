// SPDX-License-Identifier: MIT
#pragma once

#include "ui/preview/picture_preview.h"

#include <cstdint>
#include <type_traits>

namespace snapsift {

// The preview helper: this program started as `snapsift --decode-preview`
// by the window's PreviewLoader. It reads one request at a time on standard
// input and answers each on standard output, under a memory limit of its
// own, so that no file can make the window itself large or keep it waiting.
// It needs no display.

// The option that starts a helper; not listed by --help.
inline constexpr const char* kDecodePreviewOption = "--decode-preview";
// The address space a helper may use.
inline constexpr std::uint64_t kPreviewHelperMemoryBytes = 1024ULL * 1024 * 1024;

// True when the command line asks for a helper.
bool IsPreviewHelperCall(int argc, char** argv);
// Serves requests until its input ends; returns the exit status.
int RunPreviewHelper();

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

enum class ReplyKind : std::int32_t { Picture, Failure, Unchanged };

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

} // namespace preview_wire

} // namespace snapsift
