// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace snapsift {

// Picture types a search can look for beyond JPEG, BMP, GIF and the typed
// extension, each by its file name endings. Their passes follow the four
// others, in this order.
enum class PictureKind : std::uint8_t {
    Png,
    WebP,
    Heif,
    Avif,
    Tiff,
    JpegXl,
    Raw,
    JpegOther
};
constexpr std::size_t kPictureKindCount = 8;

struct PictureType {
    PictureKind kind;
    std::string_view name;                         // as the command line and the settings file spell it
    std::span<const std::string_view> extensions;  // without the dot, lower case
};

// Every picture type, in pass order.
std::span<const PictureType> PictureTypes();
const PictureType& PictureTypeOf(PictureKind kind);
// The type a name stands for, letters compared without case; none for a name
// that is no type's.
std::optional<PictureKind> PictureKindNamed(std::string_view name);

// A set of picture types.
class PictureKinds final {
public:
    bool Has(PictureKind kind) const { return (bits_ & Bit(kind)) != 0; }
    void Add(PictureKind kind) { bits_ = static_cast<std::uint16_t>(bits_ | Bit(kind)); }
    void Remove(PictureKind kind) { bits_ = static_cast<std::uint16_t>(bits_ & ~Bit(kind)); }
    bool Empty() const { return bits_ == 0; }
    // The kinds in the set, in pass order.
    std::vector<PictureKind> InOrder() const;
    friend bool operator==(PictureKinds, PictureKinds) = default;

private:
    static std::uint16_t Bit(PictureKind kind) { return static_cast<std::uint16_t>(1u << static_cast<int>(kind)); }
    std::uint16_t bits_ = 0;
};

// The names of the kinds, in pass order, joined by commas.
std::string PictureKindNames(PictureKinds kinds);

// Reads a comma-separated list of names. Unknown names go to `unknown` when
// it is given (and are otherwise left out); a name given twice counts once.
// Empty items are unknown names.
PictureKinds ParsePictureKindNames(std::string_view list, std::vector<std::string>* unknown = nullptr);

}  // namespace snapsift
