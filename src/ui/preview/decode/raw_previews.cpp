// SPDX-License-Identifier: MIT
// Many cameras embed more than one JPEG preview in a RAW file: a full-size
// one, which libraw chooses, and a smaller one. A tooltip needs only the
// smaller one where it still fills the tooltip, and decoding it is many
// times quicker. exiv2 lists the previews with their sizes.
#include "ui/preview/decode/decoders.h"

#include <cstdlib>
#include <exiv2/exiv2.hpp>
#include <mutex>

namespace snapsift {

namespace {

// The same picture: its proportions within 2 % of the largest preview's
// (a thumbnail with black bars above and below is another picture).
bool SameProportions(const Exiv2::PreviewProperties& preview, QSize largest)
{
    const qint64 across = qint64{preview.width_} * largest.height();
    const qint64 down = qint64{preview.height_} * largest.width();
    return std::llabs(across - down) * 50 <= across;
}

}  // namespace

QByteArray SmallerRawPreview(int fd, QSize largest, QSize needed)
{
    static std::once_flag once;
    std::call_once(once, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
    if (largest.isEmpty() || needed.isEmpty())
        return {};
    try {
        const Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(DescriptorPath(fd).toStdString());
        if (!image.get())
            return {};
        image->readMetadata();
        const Exiv2::PreviewManager previews(*image);
        // Smallest first.
        for (const Exiv2::PreviewProperties& preview : previews.getPreviewProperties()) {
            if (preview.mimeType_ != "image/jpeg" || preview.size_ == 0 || preview.size_ > kMaxRawPreviewBytes)
                continue;
            if (qint64{preview.width_} * preview.height_ >= qint64{largest.width()} * largest.height())
                break;  // no smaller than libraw's own choice
            const bool fills = static_cast<int>(preview.width_) >= needed.width() &&
                               static_cast<int>(preview.height_) >= needed.height();
            if (!fills || !SameProportions(preview, largest))
                continue;
            const Exiv2::PreviewImage picture = previews.getPreviewImage(preview);
            if (picture.size() == 0 || picture.size() > kMaxRawPreviewBytes)
                return {};
            return QByteArray(reinterpret_cast<const char*>(picture.pData()), static_cast<qsizetype>(picture.size()));
        }
    } catch (const std::exception&) {
        // A file exiv2 cannot read: libraw's preview it is.
    }
    return {};
}

}  // namespace snapsift
