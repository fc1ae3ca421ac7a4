// SPDX-License-Identifier: MIT
// What the decoders share: orientation, size bounds, whole-file reads.
#include "platform/file_system.h"
#include "ui/preview/decode/decoders.h"

#include <QTransform>

#include <string>

namespace snapsift {

QImage Oriented(const QImage& image, int orientation)
{
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.transformed(QTransform().rotate(180));
    case 4:
        return image.mirrored(false, true);
    case 5:  // transposed: turned a quarter clockwise, then mirrored
        return image.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6:
        return image.transformed(QTransform().rotate(90));
    case 7:
        return image.transformed(QTransform().rotate(90)).mirrored(false, true);
    case 8:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

QSize OrientedSize(QSize stored, int orientation)
{
    return orientation >= 5 && orientation <= 8 ? stored.transposed() : stored;
}

QSize FittedStoredSize(QSize stored, int orientation, QSize box)
{
    const QSize shown = OrientedSize(stored, orientation);
    if (shown.width() <= box.width() && shown.height() <= box.height())
        return stored;
    return OrientedSize(shown.scaled(box, Qt::KeepAspectRatio).expandedTo({1, 1}), orientation);
}

bool FitsWhole(qint64 width, qint64 height)
{
    return width > 0 && height > 0 && width * height <= kMaxPreviewPixels && width * height * 4 <= kMaxFullPictureBytes;
}

QByteArray ReadWholeFile(int fd, std::uint64_t size)
{
    if (size == 0 || size > kMaxWholeFileBytes)
        return {};
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (!ReadAt(fd, bytes.data(), static_cast<std::size_t>(size), 0))
        return {};
    return bytes;
}

QByteArray DescriptorPath(int fd)
{
    // The very file already opened and checked, whatever its path's length
    // and whatever its name has become since.
    return QByteArray::fromStdString("/proc/self/fd/" + std::to_string(fd));
}

}  // namespace snapsift
