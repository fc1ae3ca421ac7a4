// SPDX-License-Identifier: MIT
// The capture time, camera and orientation a picture records in its EXIF,
// read with exiv2. What the file says is bounded and checked before it is
// shown.
#include "ui/preview/decode/decoders.h"

#include <cctype>
#include <cstring>
#include <exiv2/exiv2.hpp>
#include <mutex>
#include <string>

namespace snapsift {

namespace {

void QuietOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::enableBMFF(true);
    });
}

std::string Text(const Exiv2::ExifData& exif, const char* key)
{
    const auto found = exif.findKey(Exiv2::ExifKey(key));
    if (found == exif.end() || found->count() == 0 || found->size() > 256)
        return {};
    return found->toString();
}

// "2024:05:01 10:20:30" as "2024-05-01 10:20:30"; empty unless it has that form.
void PutCaptureTime(const std::string& value, PictureFacts& facts)
{
    static const char kPattern[] = "dddd:dd:dd dd:dd:dd";
    if (value.size() < sizeof kPattern - 1)
        return;
    std::string time = value.substr(0, sizeof kPattern - 1);
    for (std::size_t i = 0; i < time.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(time[i])) != 0;
        if (kPattern[i] == 'd' ? !digit : time[i] != kPattern[i])
            return;
    }
    if (time == "0000:00:00 00:00:00")
        return;  // what a camera writes that has no clock set
    time[4] = time[7] = '-';
    std::memcpy(facts.captureTime, time.data(), time.size());
}

// Printable ASCII only, spaces at the ends dropped, cut to fit.
void PutCamera(const std::string& value, PictureFacts& facts)
{
    std::string camera;
    for (const char c : value) {
        if (c == '\0')
            break;
        camera += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    const std::size_t first = camera.find_first_not_of(' ');
    if (first == std::string::npos)
        return;
    camera = camera.substr(first, camera.find_last_not_of(' ') - first + 1);
    camera.resize(std::min(camera.size(), sizeof facts.camera - 1));
    std::memcpy(facts.camera, camera.data(), camera.size());
}

PictureFacts FactsOf(const Exiv2::ExifData& exif, int* orientation)
{
    PictureFacts facts;
    PutCaptureTime(Text(exif, "Exif.Photo.DateTimeOriginal"), facts);
    PutCamera(Text(exif, "Exif.Image.Model"), facts);
    if (orientation) {
        const auto found = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        const long value = found != exif.end() && found->count() > 0 ? found->toLong() : 1;
        *orientation = value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return facts;
}

}  // namespace

PictureFacts ReadFileFacts(int fd, int* orientation)
{
    QuietOnce();
    if (orientation)
        *orientation = 1;
    try {
        const Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(DescriptorPath(fd).toStdString());
        if (!image.get())
            return {};
        image->readMetadata();
        return FactsOf(image->exifData(), orientation);
    } catch (const std::exception&) {
        return {};  // a file exiv2 cannot read says nothing
    }
}

PictureFacts ReadExifFacts(const unsigned char* exif, std::size_t size)
{
    QuietOnce();
    try {
        Exiv2::ExifData data;
        Exiv2::ExifParser::decode(data, exif, static_cast<std::uint32_t>(size));
        return FactsOf(data, nullptr);
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace snapsift
