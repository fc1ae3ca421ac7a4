// SPDX-License-Identifier: MIT
#pragma once

#include "ui/preview/picture_preview.h"
#include "ui/preview/preview_wire.h"

#include <cstdint>

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

// The requests and replies: preview_wire.h.

}  // namespace snapsift
