// SPDX-License-Identifier: MIT
// HEIC, HEIF and AVIF through libheif. The library turns and mirrors the
// picture as its irot and imir properties say; the EXIF orientation that
// such files also carry describes the stored picture and is not applied again.
#include "platform/file_system.h"
#include "ui/preview/decode/decoders.h"

#include <libheif/heif.h>
#include <memory>
#include <vector>

namespace snapsift {

namespace {

// The widest side libheif itself accepts here (it refuses larger ones as
// it reads the file).
constexpr int kMaxSide = 32768;

struct FileSource {
    int fd;
    std::int64_t size;
    std::int64_t position = 0;
};

std::int64_t Position(void* source)
{
    return static_cast<FileSource*>(source)->position;
}

int Read(void* data, size_t size, void* source)
{
    auto* file = static_cast<FileSource*>(source);
    if (!ReadAt(file->fd, data, size, static_cast<std::uint64_t>(file->position)))
        return -1;
    file->position += static_cast<std::int64_t>(size);
    return 0;
}

int Seek(std::int64_t position, void* source)
{
    auto* file = static_cast<FileSource*>(source);
    if (position < 0 || position > file->size)
        return -1;
    file->position = position;
    return 0;
}

heif_reader_grow_status WaitForFileSize(std::int64_t target, void* source)
{
    return target <= static_cast<FileSource*>(source)->size ? heif_reader_grow_status_size_reached
                                                            : heif_reader_grow_status_size_beyond_eof;
}

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleFree {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageFree {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
using Handle = std::unique_ptr<heif_image_handle, HandleFree>;

PreviewFailure FailureOf(const heif_error& error)
{
    if (error.code == heif_error_Memory_allocation_error || error.subcode == heif_suberror_Security_limit_exceeded)
        return PreviewFailure::TooLarge;
    if (error.code == heif_error_Unsupported_filetype || error.code == heif_error_Unsupported_feature)
        return PreviewFailure::NotPicture;
    return PreviewFailure::Broken;
}

// The smallest thumbnail that still fills the box, where the file has one:
// a phone stores one of a few hundred pixels beside its 12-megapixel photo.
Handle ThumbnailFor(heif_image_handle* primary, QSize fitted)
{
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0)
        return nullptr;
    std::vector<heif_item_id> ids(static_cast<std::size_t>(count));
    heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
    Handle best;
    for (const heif_item_id id : ids) {
        heif_image_handle* candidate = nullptr;
        if (heif_image_handle_get_thumbnail(primary, id, &candidate).code != heif_error_Ok)
            continue;
        Handle owned(candidate);
        const int width = heif_image_handle_get_width(candidate);
        const int height = heif_image_handle_get_height(candidate);
        if (width < fitted.width() || height < fitted.height() || !FitsWhole(width, height))
            continue;
        if (!best || width < heif_image_handle_get_width(best.get()))
            best = std::move(owned);
    }
    return best;
}

PictureFacts FactsOf(heif_image_handle* handle)
{
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) != 1)
        return {};
    const std::size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size <= 4 || size > std::size_t{1024} * 1024)
        return {};
    std::vector<unsigned char> block(size);
    if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok)
        return {};
    // The block begins with the offset of the TIFF header after these 4 bytes.
    const std::size_t skip =
        4 + ((std::size_t{block[0]} << 24) | (std::size_t{block[1]} << 16) | (std::size_t{block[2]} << 8) | block[3]);
    return skip < size ? ReadExifFacts(block.data() + skip, size - skip) : PictureFacts{};
}

}  // namespace

Decoded DecodeHeif(const DecodeRequest& request)
{
    const std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context)
        return Decoded::Failure(PreviewFailure::TooLarge);
    heif_context_set_maximum_image_size_limit(context.get(), kMaxSide);
    FileSource source{request.fd, static_cast<std::int64_t>(request.size)};
    heif_reader reader{};
    reader.reader_api_version = 1;
    reader.get_position = Position;
    reader.read = Read;
    reader.seek = Seek;
    reader.wait_for_file_size = WaitForFileSize;
    heif_error error = heif_context_read_from_reader(context.get(), &reader, &source, nullptr);
    if (error.code != heif_error_Ok)
        return Decoded::Failure(FailureOf(error));
    heif_image_handle* primaryRaw = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &primaryRaw);
    if (error.code != heif_error_Ok)
        return Decoded::Failure(FailureOf(error));
    const Handle primary(primaryRaw);
    // The size as shown: libheif gives it with the turns applied.
    const QSize shown(heif_image_handle_get_width(primary.get()), heif_image_handle_get_height(primary.get()));
    if (!shown.isValid() || shown.isEmpty() || static_cast<qint64>(shown.width()) * shown.height() > kMaxPreviewPixels)
        return Decoded::Failure(PreviewFailure::TooLarge);
    const QSize fitted = FittedStoredSize(shown, 1, request.box);
    Handle thumbnail = ThumbnailFor(primary.get(), fitted);
    heif_image_handle* chosen = thumbnail ? thumbnail.get() : primary.get();
    if (!FitsWhole(heif_image_handle_get_width(chosen), heif_image_handle_get_height(chosen)))
        return Decoded::Failure(PreviewFailure::TooLarge);

    const std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1;
    heif_image* imageRaw = nullptr;
    error = heif_decode_image(chosen, &imageRaw, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, options.get());
    if (error.code != heif_error_Ok)
        return Decoded::Failure(FailureOf(error));
    const std::unique_ptr<heif_image, ImageFree> image(imageRaw);
    int stride = 0;
    const std::uint8_t* pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!pixels || width <= 0 || height <= 0)
        return Decoded::Failure(PreviewFailure::Broken);
    const QImage whole(pixels, width, height, stride, QImage::Format_RGBA8888);
    Decoded decoded;
    // A copy either way: the pixels go with the library's image.
    decoded.image =
        whole.size() == fitted ? whole.copy() : whole.scaled(fitted, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    decoded.pixelSize = shown;
    decoded.facts = FactsOf(primary.get());
    decoded.haveFacts = true;
    return decoded;
}

}  // namespace snapsift
