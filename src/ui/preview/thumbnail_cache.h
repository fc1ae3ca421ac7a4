// SPDX-License-Identifier: MIT
#pragma once

#include "ui/preview/picture_preview.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <string>
#include <vector>

namespace snapsift {

// A thumbnail that stands for the picture, with what it says of it.
struct KeptThumbnail {
    QImage image;         // null when there is none
    QSize original;       // the picture's own size (Thumb::Image::Width, Height)
    QByteArray mimeType;  // Thumb::Mimetype
    PictureFacts facts;
    bool factsKnown = false;  // made by this program, which records the facts
};

// The desktop's thumbnail cache, shared with the file managers by the
// Thumbnail Managing Standard: $XDG_CACHE_HOME/thumbnails/{large,normal}/
// MD5-of-the-file-URI.png, each naming the file (Thumb::URI) and the
// modification time it was made from (Thumb::MTime). Files this program
// could not decode get an entry under fail/snapsift-1.0/. Used by the
// preview helper process only: a thumbnail is a file like any other and is
// read with the same care.
class ThumbnailCache final {
public:
    ThumbnailCache();  // the cache of this user, as GLib finds it

    // False for files that must not get thumbnails: those under the cache
    // itself and those in a trash folder.
    bool Covers(const std::string& path) const;
    // A valid thumbnail of `path` at `version` that names the picture's own
    // size and type and shows it fitted to `box`: everything a preview needs,
    // from the cache alone, without reading the picture.
    KeptThumbnail FindWhole(const std::string& path, const FileVersion& version, QSize box) const;
    // The failure recorded for `path` at `version`, or None. A failure
    // recorded by a helper that knew fewer formats than this one counts as none.
    PreviewFailure FindFailure(const std::string& path, const FileVersion& version) const;
    // Writes the "large" thumbnail of `path`: a temporary name, then a rename.
    bool Store(const std::string& path, const FileVersion& version, const QImage& thumbnail, QSize original,
               const QByteArray& format, const PictureFacts* facts = nullptr) const;
    bool StoreFailure(const std::string& path, const FileVersion& version, PreviewFailure failure) const;

    // The file name a thumbnail of `path` has in each size folder ("" when
    // the path has no URI), and the URI itself.
    static std::string FileName(const std::string& path);
    static std::string Uri(const std::string& path);
    const std::string& Root() const { return root_; }

    static constexpr int kLargeSide = 256;
    static constexpr int kNormalSide = 128;

private:
    std::string root_;                   // $XDG_CACHE_HOME/thumbnails
    std::vector<std::string> excluded_;  // folders whose files get no thumbnails
};

}  // namespace snapsift
