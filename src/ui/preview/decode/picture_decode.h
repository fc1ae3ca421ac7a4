// SPDX-License-Identifier: MIT
#pragma once

#include "ui/preview/picture_preview.h"

#include <sys/stat.h>

namespace snapsift {

// A preview that says only why there is none.
PicturePreview Failed(PreviewFailure failure, const FileVersion& version = {});

// The version of the file that `st` describes.
FileVersion VersionOf(const struct stat& st);

}  // namespace snapsift
