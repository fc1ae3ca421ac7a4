// SPDX-License-Identifier: MIT
#pragma once

#include <QImage>
#include <QSize>

#include <string>

namespace snapsift::testing {

// A picture whose left half is red and right half blue: turned a quarter
// clockwise, red is on top.
QImage HalvesImage(int width, int height);

// The picture as JPEG, with an EXIF block holding the orientation (when not
// 0) and the capture time and camera model (when not empty).
std::string JpegWithExif(const QImage& image, int orientation, const std::string& captureTime = {},
                         const std::string& model = {});
std::string PngBytes(const QImage& image);

// Runs a command through the shell; true when it ended with status 0.
bool RunTool(const std::string& command);
// True when the program is on PATH.
bool HaveTool(const char* program);

// A HEIC of the picture whose irot/imir properties say `orientation` (an
// EXIF value), made with libheif's own encoder.
std::string HeicWithOrientation(const QImage& image, int orientation);

// A DNG as a camera writes one: a TIFF with DNGVersion whose first IFD is the
// embedded JPEG preview `previewJpeg` of `preview` pixels, turned by
// `orientation`, and whose SubIFD holds `raw` pixels of uncompressed CFA data.
std::string DngBytes(const std::string& previewJpeg, QSize preview, QSize raw, int orientation);

// A camera's own TIFF-based RAW file (no DNGVersion), told from a TIFF by its
// Make and Model, laid out as that maker writes it.
enum class RawLayout {
    // Nikon's NEF: IFD0 a 160 × 120 RGB thumbnail; its SubIFDs the JPEG
    // preview (JPEGInterchangeFormat) and the CFA data.
    Nef,
    // Sony's ARW: IFD0 the JPEG preview (JPEGInterchangeFormat); its SubIFD
    // the CFA data.
    Arw,
};
struct CameraRaw {
    RawLayout layout = RawLayout::Nef;
    std::string make;
    std::string model;
    std::string previewJpeg;
    QSize raw;
    int orientation = 1;
    // A second, smaller JPEG preview in a SubIFD of its own (NEF only), as
    // some cameras add beside the full-size one; none when empty.
    std::string smallerJpeg = {};
};
std::string CameraRawBytes(const CameraRaw& camera);

}  // namespace snapsift::testing
